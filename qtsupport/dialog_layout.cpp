#include "qtsupport/dialog_layout.h"

#include <QPushButton>
#include <QStyle>

namespace qtsupport {

void FitPushButtons(QWidget* root) {
    for (QPushButton* b : root->findChildren<QPushButton*>()) {
        const QStyle* style = b->style();
        int width = b->fontMetrics().size(Qt::TextShowMnemonic, b->text()).width();
        width += 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b) +
                 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b) + 2;
        b->setMinimumWidth(width);
    }
}

}  // namespace qtsupport

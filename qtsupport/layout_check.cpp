#include "qtsupport/layout_check.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>

namespace qtsupport {

namespace {

QString Name(const QWidget* w) {
    QString name = w->objectName();
    return name.isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                          : name + " (" + w->metaObject()->className() + ")";
}

bool IsComposite(const QWidget* w) {
    return qobject_cast<const QAbstractScrollArea*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QLineEdit*>(w) ||
           qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QProgressBar*>(w) ||
           qobject_cast<const QTabBar*>(w) || qobject_cast<const QMenuBar*>(w) ||
           qobject_cast<const QToolBar*>(w);
}

// Width the widget needs to show its text in one line, or -1 when it shows
// no single-line text.
int TextWidthNeeded(const QWidget* w, int* available) {
    if (auto* label = qobject_cast<const QLabel*>(w)) {
        if (label->wordWrap() || label->text().isEmpty() || label->textFormat() == Qt::RichText)
            return -1;
        *available = label->contentsRect().width() - 2 * label->margin() - label->indent();
        int widest = 0;
        for (const QString& line : label->text().split('\n'))
            widest = std::max(widest, label->fontMetrics().horizontalAdvance(line));
        return widest;
    }
    if (auto* button = qobject_cast<const QAbstractButton*>(w)) {
        if (button->text().isEmpty())
            return -1;
        *available = button->width();
        if (qobject_cast<const QToolButton*>(w) &&
            static_cast<const QToolButton*>(w)->toolButtonStyle() == Qt::ToolButtonIconOnly)
            return -1;
        if (qobject_cast<const QPushButton*>(w)) {
            // The style's size hint has a minimum width of its own; what the
            // text needs is the text, the icon, the margins and the frame.
            const QStyle* style = button->style();
            int needed = button->fontMetrics().size(Qt::TextShowMnemonic, button->text()).width();
            if (!button->icon().isNull())
                needed += button->iconSize().width() + 4;
            needed += 2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                      2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
            return needed;
        }
        // Check boxes, radio buttons and tool buttons ask for what they show.
        return button->sizeHint().width();
    }
    return -1;
}

void Check(const QWidget* parent, QStringList* problems) {
    QList<const QWidget*> shown;
    for (QObject* o : parent->children()) {
        auto* w = qobject_cast<const QWidget*>(o);
        if (w == nullptr || w->isWindow() || !w->isVisible())
            continue;
        shown.append(w);
        const QRect inside = parent->rect();
        if (!inside.contains(w->geometry()))
            problems->append(QString("%1 lies outside %2").arg(Name(w), Name(parent)));
        int available = 0;
        int needed = TextWidthNeeded(w, &available);
        if (needed >= 0 && needed > available)
            problems->append(QString("%1 cuts its text (needs %2 pixels, has %3)")
                                 .arg(Name(w))
                                 .arg(needed)
                                 .arg(available));
        if (!IsComposite(w))
            Check(w, problems);
    }
    for (int i = 0; i < shown.size(); ++i) {
        for (int j = i + 1; j < shown.size(); ++j) {
            if (shown[i]->geometry().intersects(shown[j]->geometry()))
                problems->append(QString("%1 overlaps %2").arg(Name(shown[i]), Name(shown[j])));
        }
    }
}

}  // namespace

QStringList LayoutProblems(const QWidget* root) {
    QStringList problems;
    if (root != nullptr)
        Check(root, &problems);
    return problems;
}

FontScale::FontScale(double factor) : saved_(QApplication::font()) {
    QFont larger = saved_;
    if (larger.pointSizeF() > 0)
        larger.setPointSizeF(larger.pointSizeF() * factor);
    else
        larger.setPixelSize(static_cast<int>(larger.pixelSize() * factor + 0.5));
    QApplication::setFont(larger);
}

FontScale::~FontScale() {
    QApplication::setFont(saved_);
}

}  // namespace qtsupport

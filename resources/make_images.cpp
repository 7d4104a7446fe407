// Draws the suite's small pictures: resources/morrow/connect.png (the Today
// strip's banner, 240 x 36, transparent colour RGB(252, 2, 132)) and
// resources/install/welcome.png (the installer's welcome picture).
// Not part of the build; rebuild the pictures by hand:
//   g++ -std=c++20 -fPIC resources/make_images.cpp -o /tmp/make_images \
//       $(pkg-config --cflags --libs Qt6Gui)
//   QT_QPA_PLATFORM=offscreen /tmp/make_images resources
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <cstdio>

namespace {

const QColor kKey(252, 2, 132);
const QColor kInk(20, 52, 110);

// One tap region of the strip: its x range and its label.
struct Region {
    int x0, x1;
    const char* label;
};

void Phone(QPainter& p, int cx) {
    p.setPen(kInk);
    p.setBrush(kInk);
    p.drawRect(cx - 5, 2, 10, 17);
    p.setBrush(QColor(170, 210, 240));
    p.drawRect(cx - 3, 4, 6, 6);
    p.setPen(QColor(170, 210, 240));
    p.drawPoint(cx - 2, 13);
    p.drawPoint(cx, 13);
    p.drawPoint(cx + 2, 13);
    p.drawPoint(cx - 2, 15);
    p.drawPoint(cx, 15);
    p.drawPoint(cx + 2, 15);
    p.setPen(kInk);
    p.drawLine(cx + 3, 0, cx + 3, 2);
}

void Globe(QPainter& p, int cx) {
    p.setPen(QPen(kInk, 1));
    p.setBrush(QColor(170, 210, 240));
    p.drawEllipse(cx - 8, 2, 16, 16);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(cx - 3, 2, 6, 16);
    p.drawLine(cx - 8, 10, cx + 8, 10);
    p.drawLine(cx - 7, 6, cx + 7, 6);
    p.drawLine(cx - 7, 14, cx + 7, 14);
}

void Envelope(QPainter& p, int cx) {
    p.setPen(kInk);
    p.setBrush(QColor(250, 250, 240));
    p.drawRect(cx - 9, 4, 18, 13);
    p.drawLine(cx - 9, 4, cx, 11);
    p.drawLine(cx + 9, 4, cx, 11);
}

void Bubble(QPainter& p, int cx) {
    p.setPen(kInk);
    p.setBrush(QColor(255, 214, 64));
    p.drawRect(cx - 9, 2, 18, 12);
    p.drawPolygon(QPolygon({QPoint(cx - 5, 14), QPoint(cx - 5, 19), QPoint(cx, 14)}));
    p.setPen(kInk);
    for (int dx : {-5, 0, 5})
        p.drawRect(cx + dx - 1, 7, 2, 2);
}

void Grid(QPainter& p, int cx) {
    p.setPen(kInk);
    const QColor colours[4] = {QColor(230, 80, 60), QColor(80, 170, 80), QColor(60, 120, 220),
                               QColor(240, 180, 40)};
    int i = 0;
    for (int y : {2, 11}) {
        for (int x : {cx - 9, cx + 1}) {
            p.setBrush(colours[i++]);
            p.drawRect(x, y, 8, 7);
        }
    }
}

void Sync(QPainter& p, int cx) {
    p.setPen(QPen(kInk, 2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(cx - 8, 3, 16, 15, 30 * 16, 150 * 16);
    p.drawArc(cx - 8, 3, 16, 15, 210 * 16, 150 * 16);
    p.setPen(kInk);
    p.setBrush(kInk);
    p.drawPolygon(QPolygon({QPoint(cx + 4, 2), QPoint(cx + 10, 7), QPoint(cx + 3, 9)}));
    p.drawPolygon(QPolygon({QPoint(cx - 4, 19), QPoint(cx - 10, 14), QPoint(cx - 3, 12)}));
}

bool Banner(const QString& file) {
    QImage image(240, 36, QImage::Format_RGB32);
    image.fill(kKey);
    QPainter p(&image);
    // Anti-aliased edges would blend into the transparent colour and show as
    // pink fringes, so everything is drawn with hard edges.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, false);
    const Region regions[6] = {{0, 48, "Dial"},   {49, 82, "Web"},   {83, 121, "Mail"},
                               {122, 156, "SMS"}, {157, 202, "App"}, {203, 239, "Sync"}};
    void (*icons[6])(QPainter&, int) = {Phone, Globe, Envelope, Bubble, Grid, Sync};
    QFont font("DejaVu Sans");
    font.setPixelSize(10);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);
    p.setFont(font);
    for (int i = 0; i < 6; ++i) {
        const Region& r = regions[i];
        const int cx = (r.x0 + r.x1 + 1) / 2;
        // A raised key behind icon and label.
        p.setPen(QColor(120, 140, 170));
        p.setBrush(QColor(236, 242, 250));
        p.drawRect(r.x0 + 1, 1, r.x1 - r.x0 - 2, 33);
        p.save();
        p.translate(0, 2);
        icons[i](p, cx);
        p.restore();
        p.setPen(kInk);
        p.drawText(QRect(r.x0, 22, r.x1 - r.x0 + 1, 12), Qt::AlignCenter, r.label);
    }
    p.end();
    return image.save(file, "PNG");
}

bool Welcome(const QString& file) {
    QImage image(440, 250, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 250);
    sky.setColorAt(0, QColor(18, 58, 120));
    sky.setColorAt(1, QColor(40, 150, 190));
    p.fillRect(image.rect(), sky);
    // A vane of light strokes across the sky.
    p.setPen(QPen(QColor(255, 255, 255, 40), 18, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 5; ++i)
        p.drawLine(-40 + i * 60, 250, 160 + i * 80, -20);
    // Handheld.
    p.setPen(QPen(QColor(30, 30, 40), 2));
    p.setBrush(QColor(200, 205, 215));
    p.drawRoundedRect(QRectF(40, 60, 110, 160), 12, 12);
    p.setBrush(QColor(235, 245, 255));
    p.drawRect(QRectF(52, 75, 86, 104));
    p.setBrush(QColor(255, 214, 64));
    p.setPen(QPen(QColor(20, 52, 110), 2));
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(60, 90, 70, 40), 8, 8);
    bubble.moveTo(72, 130);
    bubble.lineTo(70, 145);
    bubble.lineTo(86, 130);
    p.drawPath(bubble.simplified());
    p.setBrush(QColor(20, 52, 110));
    for (int dx : {0, 18, 36})
        p.drawEllipse(QPointF(77 + dx, 110), 4, 4);
    p.setBrush(QColor(150, 155, 165));
    p.setPen(QPen(QColor(30, 30, 40), 2));
    p.drawEllipse(QPointF(95, 200), 10, 10);
    // Title.
    QFont title("DejaVu Sans");
    title.setPixelSize(40);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(170, 70, 260, 50), Qt::AlignLeft | Qt::AlignVCenter, "Skyvane");
    QFont sub("DejaVu Sans");
    sub.setPixelSize(24);
    p.setFont(sub);
    p.setPen(QColor(255, 214, 64));
    p.drawText(QRect(172, 118, 260, 34), Qt::AlignLeft | Qt::AlignVCenter, "pro 2.5");
    QFont small("DejaVu Sans");
    small.setPixelSize(13);
    p.setFont(small);
    p.setPen(QColor(225, 240, 250));
    p.drawText(QRect(172, 160, 260, 40), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
               "SMS  \xc2\xb7  Contacts  \xc2\xb7  Phonebook");
    p.end();
    return image.save(file, "PNG");
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_images RESOURCES_DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    bool ok = Banner(dir + "/morrow/connect.png") && Welcome(dir + "/install/welcome.png");
    return ok ? 0 : 1;
}

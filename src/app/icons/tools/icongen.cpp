// Draws kbxman's icon set and writes icons.qrc beside it.
//
// Usage: kbx-icongen <icons folder> [<hicolor folder>]
//
// With a second folder it also writes the desktop's icon theme set there: the application icon
// and the data-file icon in the hicolor sizes (NxN/apps, NxN/mimetypes), which the install lays
// out under share/icons/hicolor.
//
// Every picture is drawn on a design grid (16 units for toolbar and keyboard images, 32 for the
// application icon) and rendered at each size it ships in. Outlines are drawn inside the shapes,
// a whole number of pixels wide, so edges on whole design units land on pixel boundaries and stay
// sharp at 16 pixels; only slopes and curves are antialiased.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QString>
#include <QStringList>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <numbers>

namespace {

// A small palette keeps the set coherent.
const QColor kInk(0x26, 0x2a, 0x31);
const QColor kWhite(0xff, 0xff, 0xff);
const QColor kLight(0xd2, 0xd7, 0xde);
const QColor kMid(0x94, 0x9d, 0xa9);
const QColor kSlot(0x6e, 0x78, 0x85);
const QColor kSlate(0x4a, 0x54, 0x62);
const QColor kBlue(0x2f, 0x6f, 0xd0);
const QColor kTopFront(0x6c, 0xa3, 0xec);
const QColor kSky(0xa9, 0xca, 0xf5);
const QColor kYellow(0xf8, 0xc8, 0x4a);
const QColor kAmber(0xdb, 0x9c, 0x26);
const QColor kGreen(0x34, 0xa0, 0x50);
const QColor kRed(0xdc, 0x41, 0x3c);
const QColor kOrange(0xf2, 0x8c, 0x28);

QColor mix(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t,
                            a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t, 1.0);
}

QPainterPath rectP(double x, double y, double w, double h) {
    QPainterPath p;
    p.addRect(x, y, w, h);
    return p;
}

QPainterPath ellipseP(double cx, double cy, double rx, double ry) {
    QPainterPath p;
    p.addEllipse(QPointF(cx, cy), rx, ry);
    return p;
}

QPainterPath polyP(std::initializer_list<QPointF> points) {
    QPainterPath p;
    bool first = true;
    for (const QPointF& pt : points) {
        if (first)
            p.moveTo(pt);
        else
            p.lineTo(pt);
        first = false;
    }
    p.closeSubpath();
    return p;
}

// The area a centre line covers when drawn `width` design units wide.
QPainterPath strokeP(const QPainterPath& centre, double width, Qt::PenCapStyle cap = Qt::FlatCap) {
    QPainterPathStroker st;
    st.setWidth(width);
    st.setCapStyle(cap);
    st.setJoinStyle(Qt::MiterJoin);
    return st.createStroke(centre).simplified();
}

QPainterPath lineP(QPointF a, QPointF b) {
    QPainterPath p(a);
    p.lineTo(b);
    return p;
}

// One rendering of one picture: a square image, a design grid and an outline width in pixels.
class Canvas {
public:
    Canvas(int pixels, double units, int outline)
        : m_img(pixels, pixels, QImage::Format_ARGB32_Premultiplied)
        , m_scale(pixels / units)
        , m_ow(outline) {
        m_img.fill(Qt::transparent);
        m_p.begin(&m_img);
        m_p.setRenderHint(QPainter::Antialiasing);
        m_p.setPen(Qt::NoPen);
    }

    double scale() const { return m_scale; }
    int ow() const { return m_ow; }
    // One design unit is at least two pixels: room for details a 16-pixel image cannot hold.
    bool fine() const { return m_scale >= 2; }
    // Design units for a given number of pixels (for lines that stay one outline wide).
    double px(double pixels) const { return pixels / m_scale; }
    double hair() const { return px(m_ow); }

    // Greys a picture out: pale colours and a mid-grey outline.
    void setFaded(bool faded) { m_faded = faded; }

    QColor col(const QColor& c) const {
        if (!m_faded)
            return c;
        if (c == kInk)
            return kMid;
        return mix(c, kWhite, 0.62);
    }

    QPainterPath toPixels(const QPainterPath& design) const {
        return QTransform::fromScale(m_scale, m_scale).map(design);
    }

    // Fills a shape and draws its outline inside its edge.
    void shape(const QPainterPath& design, const QColor& fill, const QColor& line = kInk) {
        const QPainterPath outer = toPixels(design);
        m_p.fillPath(outer, col(line));
        QPainterPathStroker st;
        st.setWidth(2.0 * m_ow);
        st.setJoinStyle(Qt::MiterJoin);
        st.setMiterLimit(6);
        m_p.fillPath(outer.subtracted(st.createStroke(outer)), col(fill));
    }

    // Fills a shape without an outline.
    void fill(const QPainterPath& design, const QColor& c) {
        m_p.fillPath(toPixels(design), col(c));
    }

    // A horizontal or vertical line one outline wide, starting at a design point.
    void hline(double x, double y, double len, const QColor& c = kInk) {
        const QRectF r = pixelRect(x, y, len, 0);
        m_p.fillRect(QRectF(r.x(), r.y(), r.width(), m_ow), col(c));
    }
    void vline(double x, double y, double len, const QColor& c = kInk) {
        const QRectF r = pixelRect(x, y, 0, len);
        m_p.fillRect(QRectF(r.x(), r.y(), m_ow, r.height()), col(c));
    }

    QRectF pixelRect(double x, double y, double w, double h) const {
        const double x0 = std::round(x * m_scale), y0 = std::round(y * m_scale);
        return QRectF(x0, y0, std::round((x + w) * m_scale) - x0,
                      std::round((y + h) * m_scale) - y0);
    }
    void fillPixels(const QRectF& r, const QColor& c) { m_p.fillRect(r, col(c)); }

    // A dashed outline along the inside of a rectangle, symmetric from each corner.
    void dashedRect(double x, double y, double w, double h, const QColor& c) {
        const QRectF r = pixelRect(x, y, w, h);
        const int d = 2 * m_ow;
        auto run = [&](int len, const std::function<void(int, int)>& put) {
            for (int i = 0; i < len; i += 2 * d)
                put(i, std::min(d, len - i));
        };
        const int left = int(r.left()), top = int(r.top());
        const int wpx = int(r.width()), hpx = int(r.height());
        const QColor cc = col(c);
        run(wpx, [&](int i, int n) {
            m_p.fillRect(left + i, top, n, m_ow, cc);
            m_p.fillRect(left + i, top + hpx - m_ow, n, m_ow, cc);
        });
        run(hpx, [&](int i, int n) {
            m_p.fillRect(left, top + i, m_ow, n, cc);
            m_p.fillRect(left + wpx - m_ow, top + i, m_ow, n, cc);
        });
    }

    QImage finish() {
        m_p.end();
        return m_img.convertToFormat(QImage::Format_ARGB32);
    }

private:
    QImage m_img;
    QPainter m_p;
    double m_scale;
    int m_ow;
    bool m_faded = false;
};

// ---------------------------------------------------------------------------------------------
// Shared parts

// A piano keyboard in the design rectangle; `panel` design units on top hold the control panel.
void keyboard(Canvas& c, double x, double y, double w, double h, double panel, int whiteKeys) {
    c.shape(rectP(x, y, w, h), kWhite);
    const int ow = c.ow();
    QRectF inner = c.pixelRect(x, y, w, h).adjusted(ow, ow, -ow, -ow);
    if (panel > 0) {
        const double ph = std::round(panel * c.scale());
        c.fillPixels(QRectF(inner.x(), inner.y(), inner.width(), ph), kSlate);
        // A lit display on the panel.
        const double dw = std::round(inner.width() * 0.3);
        const double dh = std::max<double>(ow, std::round(ph * 0.34));
        const double dy = inner.y() + std::round((ph - dh) / 2);
        c.fillPixels(QRectF(inner.x() + std::round(inner.width() * 0.12), dy, dw, dh), kSky);
        if (c.fine()) {
            // Two buttons beside the display.
            const double bx = inner.x() + std::round(inner.width() * 0.62);
            c.fillPixels(QRectF(bx, dy, dh, dh), kOrange);
            c.fillPixels(QRectF(bx + 2 * dh, dy, dh, dh), kLight);
        }
        c.fillPixels(QRectF(inner.x(), inner.y() + ph, inner.width(), ow), kInk);
        inner.setTop(inner.y() + ph + ow);
    }
    const double slot = (inner.width() + ow) / whiteKeys;
    const double blackH = std::round(inner.height() * 0.6);
    // Black keys follow white keys C, D, F, G and A of each octave.
    for (int i = 1; i < whiteKeys; ++i) {
        const double sx = inner.x() + std::round(i * slot) - ow;
        c.fillPixels(QRectF(sx, inner.y(), ow, inner.height()), kInk);
        const int k = (i - 1) % 7;
        if (k == 0 || k == 1 || k == 3 || k == 4 || k == 5) {
            double bw = std::round(slot * 0.55);
            if ((int(bw) - ow) % 2)
                bw += 1;
            bw = std::max<double>(bw, ow + 2);
            c.fillPixels(QRectF(sx - (bw - ow) / 2, inner.y(), bw, blackH), kInk);
        }
    }
}

// A sheet of paper with a folded corner and a few text lines.
void page(Canvas& c, double x, double y, double w, double h, double fold, int lines) {
    c.shape(polyP({{x, y}, {x + w - fold, y}, {x + w, y + fold}, {x + w, y + h}, {x, y + h}}),
            kWhite);
    c.shape(polyP({{x + w - fold, y}, {x + w - fold, y + fold}, {x + w, y + fold}}), kLight);
    const double step = c.fine() ? 1.5 : 2;
    const double first = y + fold + 1;
    for (int i = 0; i < lines; ++i) {
        const double ly = first + i * step;
        if (ly + c.hair() > y + h - 1)
            break;
        const double right = (i == lines - 1) ? x + w * 0.6 : x + w - 2;
        c.hline(x + 2, ly, right - (x + 2), kMid);
    }
}

// A closed folder: a back with a tab and a front panel.
void folderClosed(Canvas& c, double x, double y, double w, double h, const QColor& front,
                  const QColor& back) {
    const double tab = std::round(w * 0.38);
    c.shape(polyP({{x, y},
                   {x + tab, y},
                   {x + tab + 1, y + 1},
                   {x + w, y + 1},
                   {x + w, y + h},
                   {x, y + h}}),
            back);
    c.shape(rectP(x, y + 3, w, h - 3), front);
}

void folderOpen(Canvas& c, double x, double y, double w, double h, const QColor& front,
                const QColor& back) {
    const double tab = std::round(w * 0.38);
    c.shape(polyP({{x, y},
                   {x + tab, y},
                   {x + tab + 1, y + 1},
                   {x + w - 1, y + 1},
                   {x + w - 1, y + h},
                   {x, y + h}}),
            back);
    // A sheet inside.
    c.shape(rectP(x + 2, y + 2, w - 5, h - 4), kWhite);
    c.shape(polyP({{x, y + h}, {x + 3, y + 5}, {x + w + 1, y + 5}, {x + w - 2, y + h}}), front);
}

// A block arrow along a vertical axis; `up` chooses the direction.
void arrowV(Canvas& c, double cx, double top, double bottom, double shaft, double head,
            double headLen, bool up, const QColor& color) {
    const double hs = shaft / 2, hh = head / 2;
    if (up) {
        c.shape(polyP({{cx, top},
                       {cx + hh, top + headLen},
                       {cx + hs, top + headLen},
                       {cx + hs, bottom},
                       {cx - hs, bottom},
                       {cx - hs, top + headLen},
                       {cx - hh, top + headLen}}),
                color);
    } else {
        c.shape(polyP({{cx, bottom},
                       {cx - hh, bottom - headLen},
                       {cx - hs, bottom - headLen},
                       {cx - hs, top},
                       {cx + hs, top},
                       {cx + hs, bottom - headLen},
                       {cx + hh, bottom - headLen}}),
                color);
    }
}

// A circular arrow: an arc from `startDeg` over `spanDeg` (counter-clockwise positive, as Qt
// counts) with a head at its end.
QPainterPath circularArrowP(double cx, double cy, double r, double thick, double startDeg,
                            double spanDeg, double headLen, double headWidth) {
    QPainterPath arc;
    const QRectF box(cx - r, cy - r, 2 * r, 2 * r);
    arc.arcMoveTo(box, startDeg);
    arc.arcTo(box, startDeg, spanDeg);
    QPainterPath body = strokeP(arc, thick);
    const double a = (startDeg + spanDeg) * std::numbers::pi / 180.0;
    const QPointF end(cx + r * std::cos(a), cy - r * std::sin(a));
    const QPointF radial(std::cos(a), -std::sin(a));
    QPointF tangent(-std::sin(a), -std::cos(a));
    if (spanDeg < 0)
        tangent = -tangent;
    const QPointF back = end - tangent * 0.01;
    QPainterPath head = polyP({back + radial * (headWidth / 2), end + tangent * headLen,
                               back - radial * (headWidth / 2)});
    return body.united(head).simplified();
}

// ---------------------------------------------------------------------------------------------
// Toolbar images (16-unit grid)

void tbLargeIcons(Canvas& c) {
    for (double x : {1.0, 9.0})
        for (double y : {1.0, 9.0})
            c.shape(rectP(x, y, 6, 6), kSky);
}

void tbSmallIcons(Canvas& c) {
    for (double x : {1.0, 6.0, 11.0})
        for (double y : {1.0, 6.0, 11.0})
            c.shape(rectP(x, y, 4, 4), kSky);
}

void tbList(Canvas& c) {
    for (double y : {1.0, 5.0, 9.0, 13.0}) {
        c.shape(rectP(1, y, 3, 3), kSky);
        c.hline(6, y + 1 + (c.fine() ? 0.25 : 0), 9);
    }
}

void tbDetails(Canvas& c) {
    c.shape(rectP(1, 1, 14, 4), kSky);
    c.vline(9, 1, 4);
    for (double y : {7.0, 10.0, 13.0}) {
        c.hline(1, y, 7);
        c.hline(10, y, 5, kMid);
    }
}

void tbRetrieve(Canvas& c) {
    // A circular arrow: read the folder again.
    c.shape(circularArrowP(8, 9, 4.5, 4, -20, -250, 5, 9), kGreen);
}

void tbSend(Canvas& c) {
    page(c, 0, 0, 8, 10, 3, 3);
    keyboard(c, 0, 10, 16, 6, 0, 5);
    arrowV(c, 12, 0, 11, 4, 8, 4, false, kGreen);
}

void tbGetList(Canvas& c) {
    c.shape(rectP(2, 0, 12, 10), kWhite);
    for (double y : {2.0, 4.0, 6.0}) {
        c.fill(rectP(4, y, 2, 1), kBlue);
        c.hline(7, y, 5, kMid);
    }
    keyboard(c, 0, 9, 16, 7, 0, 5);
}

void tbImport(Canvas& c) {
    page(c, 8, 0, 8, 10, 3, 3);
    keyboard(c, 0, 10, 16, 6, 0, 5);
    arrowV(c, 4, 0, 11, 4, 8, 4, true, kGreen);
}

void tbDelete(Canvas& c) {
    QPainterPath x = strokeP(lineP({3, 3}, {13, 13}), 3.6, Qt::SquareCap)
                         .united(strokeP(lineP({13, 3}, {3, 13}), 3.6, Qt::SquareCap));
    c.shape(x.simplified(), kRed);
}

// ---------------------------------------------------------------------------------------------
// Keyboard images (16-unit grid)

void kbdTopFolder(Canvas& c) {
    folderClosed(c, 1, 2, 14, 12, kTopFront, kBlue);
}

void kbdTopFolderUnlisted(Canvas& c) {
    c.setFaded(true);
    kbdTopFolder(c);
}

void kbdFolder(Canvas& c) {
    folderClosed(c, 1, 2, 14, 12, kYellow, kAmber);
}

void kbdFolderAbsent(Canvas& c) {
    c.setFaded(true);
    kbdFolder(c);
}

void kbdFolderOpen(Canvas& c) {
    folderOpen(c, 1, 2, 14, 12, kYellow, kAmber);
}

void kbdEmptySlot(Canvas& c) {
    c.dashedRect(2, 2, 12, 12, kSlot);
}

void kbdTone(Canvas& c) {
    QPainterPath wave;
    const int n = 48;
    for (int i = 0; i <= n; ++i) {
        const double t = double(i) / n;
        const QPointF pt(2.5 + 11 * t, 8 - 3.6 * std::sin(2 * std::numbers::pi * t));
        if (i == 0)
            wave.moveTo(pt);
        else
            wave.lineTo(pt);
    }
    c.shape(strokeP(wave, 3.8, Qt::RoundCap), kBlue);
}

void kbdDsp(Canvas& c) {
    // Effect faders on their tracks.
    const double level[] = {9, 3, 6};
    for (int i = 0; i < 3; ++i) {
        const double x = 1 + 5 * i;
        const double track = c.fine() ? 1 : 2;
        c.fill(rectP(x + 2 - track / 2, 1, track, 14), kSlate);
        c.shape(rectP(x, level[i], 4, 4), i == 1 ? kOrange : kLight);
        c.hline(x + 1, level[i] + 1.5 + (c.fine() ? 0.25 : 0.5), 2);
    }
}

void kbdRegistration(Canvas& c) {
    c.shape(rectP(0, 3, 16, 10), kSlate);
    for (int i = 0; i < 4; ++i) {
        const double x = 2 + i * 3;
        c.fill(rectP(x, 5, 2, 2), i == 1 ? kOrange : kLight);
        c.fill(rectP(x, 9, 2, 2), kLight);
    }
}

void kbdSong(Canvas& c) {
    for (int i = 0; i < 5; ++i)
        c.hline(0, 3 + 2 * i, 16, kMid);
    const auto head = [](double cx, double cy) {
        QPainterPath p = ellipseP(0, 0, 2.3, 1.6);
        return QTransform().translate(cx, cy).rotate(-22).map(p);
    };
    const double stem = c.fine() ? 1.5 : 1;
    QPainterPath notes = head(4.8, 12.6).united(head(12.8, 10.6));
    notes = notes.united(rectP(7 - stem, 3, stem, 9.6));
    notes = notes.united(rectP(15 - stem, 1, stem, 9.6));
    notes = notes.united(polyP({{7 - stem, 3}, {15, 1}, {15, 3.4}, {7 - stem, 5.4}}));
    c.fill(notes.simplified(), kInk);
}

void kbdRhythm(Canvas& c) {
    c.shape(strokeP(lineP({2, 1.5}, {9, 7}), 1.8, Qt::RoundCap), kAmber);
    c.shape(strokeP(lineP({14, 1.5}, {7, 7}), 1.8, Qt::RoundCap), kAmber);
    QPainterPath body = rectP(1.5, 8, 13, 4).united(ellipseP(8, 12, 6.5, 2.5));
    c.shape(body.simplified(), kRed);
    c.shape(ellipseP(8, 8, 6.5, 2.5), kWhite);
}

void kbdKeyboard(Canvas& c) {
    keyboard(c, 0, 3, 16, 10, 3, 5);
}

// ---------------------------------------------------------------------------------------------
// Application icon (32-unit grid)

void appIcon(Canvas& c) {
    page(c, 2, 1, 13, 16, 4, 5);
    arrowV(c, 20, 1, 15, 4, 8, 4, false, kGreen);
    arrowV(c, 27, 1, 15, 4, 8, 4, true, kBlue);
    keyboard(c, 0, 16, 32, 14, 4, 7);
}

// A data file (.kbx) in a file manager: a page with the keyboard across its foot.
void dataFileIcon(Canvas& c) {
    page(c, 5, 1, 22, 30, 7, 6);
    keyboard(c, 3, 19, 26, 11, 3, 6);
}

// ---------------------------------------------------------------------------------------------

using Draw = std::function<void(Canvas&)>;

bool save(const QImage& img, const QString& path) {
    if (!img.save(path, "PNG", 0)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s <icons folder> [<hicolor folder>]\n", argv[0]);
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath("toolbar") || !out.mkpath("kbd")) {
        std::fprintf(stderr, "cannot create folders in %s\n", argv[1]);
        return 1;
    }

    const Draw toolbar[] = {tbLargeIcons, tbSmallIcons, tbList,   tbDetails, tbRetrieve,
                            tbSend,       tbGetList,    tbImport, tbDelete};
    const Draw kbd[] = {kbdTopFolderUnlisted, kbdTopFolder, kbdFolderAbsent, kbdFolder,
                        kbdFolderOpen,        kbdEmptySlot, kbdTone,         kbdDsp,
                        kbdRegistration,      kbdSong,      kbdRhythm,       kbdKeyboard};

    QStringList files;
    bool ok = true;
    auto render = [&](const Draw& draw, int pixels, double units, int outline,
                      const QString& name) {
        Canvas c(pixels, units, outline);
        draw(c);
        ok = save(c.finish(), out.filePath(name)) && ok;
        files << name;
    };

    int i = 0;
    for (const Draw& d : toolbar) {
        render(d, 16, 16, 1, QString("toolbar/%1.png").arg(i));
        render(d, 32, 16, 2, QString("toolbar/%1@2x.png").arg(i));
        ++i;
    }
    i = 0;
    for (const Draw& d : kbd) {
        render(d, 16, 16, 1, QString("kbd/%1.png").arg(i));
        render(d, 32, 16, 1, QString("kbd/%1@32.png").arg(i));
        ++i;
    }
    render(appIcon, 32, 32, 1, "app.png");
    render(appIcon, 64, 32, 2, "app@2x.png");
    render(appIcon, 256, 32, 6, "app-256.png");

    if (argc == 3) {
        // Outlines grow with the size, as the 64 and 256 pixel application icons above do.
        const QDir theme(QString::fromLocal8Bit(argv[2]));
        for (const int size : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
            const int outline = std::max(1, static_cast<int>(std::lround(size / 42.0)));
            const QString dir = QString("%1x%1").arg(size);
            if (!theme.mkpath(dir + "/apps") || !theme.mkpath(dir + "/mimetypes")) {
                std::fprintf(stderr, "cannot create folders in %s\n", argv[2]);
                return 1;
            }
            Canvas app(size, 32, outline);
            appIcon(app);
            ok = save(app.finish(), theme.filePath(dir + "/apps/com.tovanel.KbxMan.png")) && ok;
            Canvas data(size, 32, outline);
            dataFileIcon(data);
            ok = save(data.finish(),
                      theme.filePath(dir + "/mimetypes/application-x-zr7316-kbx.png")) &&
                 ok;
        }
    }

    // Aliases equal the file names, so QIcon finds each @2x file beside its 1x file.
    QString qrc = "<!-- Written by tools/icongen.cpp; rerun it rather than editing. -->\n"
                  "<RCC>\n  <qresource prefix=\"/icons\">\n";
    for (const QString& f : files)
        qrc += QString("    <file alias=\"%1\">%1</file>\n").arg(f);
    qrc += "  </qresource>\n</RCC>\n";
    QFile q(out.filePath("icons.qrc"));
    if (!q.open(QIODevice::WriteOnly | QIODevice::Truncate) || q.write(qrc.toUtf8()) < 0) {
        std::fprintf(stderr, "cannot write icons.qrc\n");
        return 1;
    }
    return ok ? 0 : 1;
}

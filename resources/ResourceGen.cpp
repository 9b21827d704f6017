// Draws the program's pictures and synthesises its sounds at build time, so that no
// binary resource is kept in the repository.
//   gf_resgen resources OUTDIR   the About picture, animation frames, glyphs, icons, sounds
//   gf_resgen samples OUTDIR N   N sample photographs for the sample card image
#include "ByteOrder.h"

#include <QtGui/QGuiApplication>
#include <QtGui/QImage>
#include <QtGui/QLinearGradient>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QRadialGradient>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

const double Pi = 3.14159265358979323846;
QString OutDir;

void Save(const QImage& img, const QString& name, const char* format, int quality = -1) {
  QString path = OutDir + "/" + name;
  if (!img.save(path, format, quality)) {
    std::fprintf(stderr, "gf_resgen: cannot write %s\n", qPrintable(path));
    std::exit(1);
  }
}

QFont Font(int pixels, bool bold = false) {
  QFont f("DejaVu Sans");
  f.setPixelSize(pixels);
  f.setBold(bold);
  return f;
}

// The folded-card emblem shared by the About picture and the animation.
void DrawEmblem(QPainter& p, QPointF c, double size, double glow) {
  p.save();
  p.translate(c);
  QRadialGradient halo(QPointF(0, 0), size * 1.1);
  halo.setColorAt(0, QColor(255, 236, 160, int(150 * glow)));
  halo.setColorAt(1, QColor(255, 236, 160, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(halo);
  p.drawEllipse(QPointF(0, 0), size * 1.1, size * 1.1);
  QPainterPath card;
  double w = size * 0.9, h = size * 1.15;
  card.moveTo(-w / 2, -h / 2);
  card.lineTo(w / 4, -h / 2);
  card.lineTo(w / 2, -h / 4);
  card.lineTo(w / 2, h / 2);
  card.lineTo(-w / 2, h / 2);
  card.closeSubpath();
  QLinearGradient body(QPointF(-w / 2, -h / 2), QPointF(w / 2, h / 2));
  body.setColorAt(0, QColor(70, 110, 200));
  body.setColorAt(1, QColor(25, 45, 120));
  p.setBrush(body);
  p.setPen(QPen(QColor(230, 235, 255), size / 30));
  p.drawPath(card);
  for (int i = 0; i < 4; ++i) { // contacts
    p.setBrush(QColor(240, 200, 80));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(-w / 2 + w * 0.12 + i * w * 0.18, -h / 2 + h * 0.06, w * 0.1, h * 0.16));
  }
  p.setBrush(QColor(255, 255, 255, 220)); // a small picture on the card's label
  p.drawRoundedRect(QRectF(-w * 0.35, h * 0.02, w * 0.7, h * 0.38), 3, 3);
  QPainterPath hill;
  hill.moveTo(-w * 0.33, h * 0.38);
  hill.lineTo(-w * 0.1, h * 0.14);
  hill.lineTo(w * 0.05, h * 0.28);
  hill.lineTo(w * 0.17, h * 0.18);
  hill.lineTo(w * 0.33, h * 0.38);
  hill.closeSubpath();
  p.setBrush(QColor(60, 150, 80));
  p.drawPath(hill);
  p.setBrush(QColor(250, 180, 40));
  p.drawEllipse(QPointF(w * 0.2, h * 0.09), w * 0.05, w * 0.05);
  p.restore();
}

void MakeAbout() {
  QImage img(560, 340, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, img.height());
  sky.setColorAt(0, QColor(16, 28, 72));
  sky.setColorAt(1, QColor(54, 92, 170));
  p.fillRect(img.rect(), sky);
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 60; ++i) { // glimmer
    double x = std::fmod(i * 97.3, 560.0), y = std::fmod(i * 53.7, 340.0);
    p.setBrush(QColor(255, 255, 220, 40 + (i * 37) % 120));
    p.drawEllipse(QPointF(x, y), 1 + i % 3, 1 + i % 3);
  }
  DrawEmblem(p, QPointF(130, 170), 150, 1.0);
  p.setPen(QColor(255, 255, 255));
  p.setFont(Font(40, true));
  p.drawText(QRectF(240, 105, 310, 60), Qt::AlignLeft | Qt::AlignVCenter, "Glimmerfold");
  p.setFont(Font(18));
  p.setPen(QColor(220, 230, 255));
  p.drawText(QRectF(242, 165, 310, 30), Qt::AlignLeft | Qt::AlignVCenter, "for Digital Media");
  p.setFont(Font(14));
  p.drawText(QRectF(242, 200, 310, 24), Qt::AlignLeft | Qt::AlignVCenter, "Version 2.0");
  p.setFont(Font(12));
  p.setPen(QColor(190, 205, 240));
  p.drawText(QRectF(242, 250, 300, 60), Qt::AlignLeft | Qt::TextWordWrap,
             "Recovers pictures, video and sound from camera media.");
  p.end();
  Save(img, "ABOUT.jpg", "JPG", 90);
}

// A strip of sectors sweeps past a reading head; pictures light up as they are found.
void MakeAnimation() {
  for (int f = 0; f < 8; ++f) {
    QImage img(200, 100, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, 0, 100);
    bg.setColorAt(0, QColor(238, 242, 252));
    bg.setColorAt(1, QColor(200, 212, 238));
    p.fillRect(img.rect(), bg);
    const int cells = 10;
    for (int i = 0; i < cells; ++i) {
      QRectF r(8 + i * 18.4, 62, 15, 26);
      bool found = (i * 3 + 1) % 4 == 0 && i <= f + 1;
      bool read = i <= f + 1;
      p.setPen(QPen(QColor(60, 80, 140), 1));
      p.setBrush(found  ? QColor(250, 190, 50)
                 : read ? QColor(140, 170, 230)
                        : QColor(250, 252, 255));
      p.drawRect(r);
    }
    double headX = 8 + (f + 1) * 18.4 + 7.5;
    p.setPen(QPen(QColor(200, 40, 40), 2));
    p.drawLine(QPointF(headX, 56), QPointF(headX, 94));
    p.setBrush(QColor(200, 40, 40));
    QPolygonF tip;
    tip << QPointF(headX - 5, 50) << QPointF(headX + 5, 50) << QPointF(headX, 57);
    p.drawPolygon(tip);
    DrawEmblem(p, QPointF(38, 30), 34, 0.4 + 0.6 * std::fabs(std::sin(f * Pi / 7)));
    p.setPen(QColor(30, 50, 110));
    p.setFont(Font(13, true));
    int dots = f % 4;
    p.drawText(QRectF(70, 12, 128, 36), Qt::AlignLeft | Qt::AlignVCenter,
               QString("Searching") + QString(dots, '.'));
    p.end();
    Save(img, QString("ANIMATION_%1.jpg").arg(f + 1), "JPG", 92);
  }
}

using TDraw = std::function<void(QPainter&)>;

// A 32 x 32 glyph and its disabled twin (grey, faded), as the buttons show them.
void MakeGlyph(const QString& name, const TDraw& draw) {
  QImage img(32, 32, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  draw(p);
  p.end();
  Save(img, name + ".png", "PNG");
  QImage grey = img;
  for (int y = 0; y < grey.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(grey.scanLine(y));
    for (int x = 0; x < grey.width(); ++x) {
      int g = qGray(line[x]) / 2 + 100;
      line[x] = qRgba(g, g, g, qAlpha(line[x]) / 2);
    }
  }
  Save(grey, name + "_D.png", "PNG");
}

void MakeGlyphs() {
  MakeGlyph("BTN_START", [](QPainter& p) {
    QRadialGradient g(QPointF(12, 10), 20);
    g.setColorAt(0, QColor(120, 230, 120));
    g.setColorAt(1, QColor(20, 130, 40));
    p.setBrush(g);
    p.setPen(QPen(QColor(10, 80, 20), 1.5));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    QPolygonF tri;
    tri << QPointF(12, 9) << QPointF(24, 16) << QPointF(12, 23);
    p.setBrush(Qt::white);
    p.setPen(Qt::NoPen);
    p.drawPolygon(tri);
  });
  MakeGlyph("BTN_CANCEL", [](QPainter& p) {
    QRadialGradient g(QPointF(12, 10), 20);
    g.setColorAt(0, QColor(255, 130, 120));
    g.setColorAt(1, QColor(180, 20, 20));
    p.setBrush(g);
    p.setPen(QPen(QColor(110, 10, 10), 1.5));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(11, 11), QPointF(21, 21));
    p.drawLine(QPointF(21, 11), QPointF(11, 21));
  });
  MakeGlyph("BTN_OPTIONS", [](QPainter& p) {
    p.translate(16, 16);
    p.setPen(QPen(QColor(60, 60, 80), 1));
    p.setBrush(QColor(150, 160, 185));
    QPainterPath gear;
    for (int i = 0; i < 8; ++i) {
      p.save();
      p.rotate(i * 45);
      p.drawRect(QRectF(-3, -15, 6, 8));
      p.restore();
    }
    p.drawEllipse(QPointF(0, 0), 10.5, 10.5);
    p.setBrush(QColor(245, 245, 250));
    p.drawEllipse(QPointF(0, 0), 4.5, 4.5);
  });
  MakeGlyph("BTN_HELP", [](QPainter& p) {
    QRadialGradient g(QPointF(12, 10), 20);
    g.setColorAt(0, QColor(130, 170, 255));
    g.setColorAt(1, QColor(30, 60, 180));
    p.setBrush(g);
    p.setPen(QPen(QColor(20, 30, 110), 1.5));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    p.setPen(Qt::white);
    p.setFont(Font(22, true));
    p.drawText(QRectF(2, 2, 28, 28), Qt::AlignCenter, "?");
  });
  MakeGlyph("BTN_EXIT", [](QPainter& p) {
    p.setPen(QPen(QColor(90, 50, 20), 1.5));
    p.setBrush(QColor(190, 120, 60));
    p.drawRect(QRectF(5, 3, 16, 26));
    p.setBrush(QColor(240, 200, 80));
    p.drawEllipse(QPointF(17, 17), 1.6, 1.6);
    p.setPen(QPen(QColor(20, 120, 40), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawLine(QPointF(17, 9), QPointF(29, 9));
    p.drawLine(QPointF(25, 5), QPointF(29, 9));
    p.drawLine(QPointF(25, 13), QPointF(29, 9));
  });
  MakeGlyph("BTN_BROWSE", [](QPainter& p) {
    p.setPen(QPen(QColor(150, 110, 20), 1.2));
    p.setBrush(QColor(240, 200, 90));
    QPolygonF back;
    back << QPointF(3, 7) << QPointF(12, 7) << QPointF(15, 10) << QPointF(28, 10) << QPointF(28, 26)
         << QPointF(3, 26);
    p.drawPolygon(back);
    p.setBrush(QColor(252, 222, 120));
    QPolygonF front;
    front << QPointF(3, 26) << QPointF(7, 14) << QPointF(31, 14) << QPointF(28, 26);
    p.drawPolygon(front);
  });
  MakeGlyph("BTN_NEW", [](QPainter& p) {
    p.setPen(QPen(QColor(150, 110, 20), 1.2));
    p.setBrush(QColor(240, 200, 90));
    QPolygonF folder;
    folder << QPointF(2, 9) << QPointF(11, 9) << QPointF(14, 12) << QPointF(26, 12)
           << QPointF(26, 28) << QPointF(2, 28);
    p.drawPolygon(folder);
    p.setPen(QPen(QColor(20, 130, 40), 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(24, 2), QPointF(24, 14));
    p.drawLine(QPointF(18, 8), QPointF(30, 8));
  });
  MakeGlyph("BTN_OK", [](QPainter& p) {
    p.setPen(QPen(QColor(20, 130, 40), 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPolygonF tick;
    tick << QPointF(6, 17) << QPointF(13, 24) << QPointF(26, 8);
    p.drawPolyline(tick);
  });
}

void MakeIcon(int kind, const TDraw& draw) {
  QImage img(32, 32, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  draw(p);
  p.end();
  Save(img, QString("DRIVE_%1.png").arg(kind), "PNG");
}

void DrawDiskBox(QPainter& p, QColor top, QColor led) {
  p.setPen(QPen(QColor(60, 60, 70), 1));
  QLinearGradient g(0, 10, 0, 26);
  g.setColorAt(0, top);
  g.setColorAt(1, top.darker(160));
  p.setBrush(g);
  p.drawRoundedRect(QRectF(2, 10, 28, 14), 3, 3);
  p.setBrush(led);
  p.drawEllipse(QPointF(25, 20), 1.8, 1.8);
}

void MakeIcons() {
  MakeIcon(0, [](QPainter& p) { // floppy
    p.setPen(QPen(QColor(20, 20, 40), 1));
    p.setBrush(QColor(50, 60, 100));
    p.drawRoundedRect(QRectF(4, 4, 24, 24), 2, 2);
    p.setBrush(QColor(190, 195, 205));
    p.drawRect(QRectF(9, 4, 13, 8));
    p.setBrush(QColor(245, 245, 250));
    p.drawRect(QRectF(8, 16, 16, 12));
  });
  MakeIcon(1, [](QPainter& p) { DrawDiskBox(p, QColor(200, 200, 210), QColor(60, 220, 60)); });
  MakeIcon(2, [](QPainter& p) { // memory card
    QPolygonF card;
    card << QPointF(7, 3) << QPointF(21, 3) << QPointF(26, 8) << QPointF(26, 29) << QPointF(7, 29);
    p.setPen(QPen(QColor(20, 30, 80), 1));
    p.setBrush(QColor(50, 90, 190));
    p.drawPolygon(card);
    p.setBrush(QColor(240, 200, 80));
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i)
      p.drawRect(QRectF(9 + i * 4, 5, 2.5, 6));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(10, 16, 13, 9));
  });
  MakeIcon(3, [](QPainter& p) { // CD
    QRadialGradient g(QPointF(16, 16), 14);
    g.setColorAt(0, QColor(250, 250, 255));
    g.setColorAt(0.6, QColor(190, 210, 240));
    g.setColorAt(1, QColor(220, 190, 240));
    p.setPen(QPen(QColor(90, 90, 110), 1));
    p.setBrush(g);
    p.drawEllipse(QPointF(16, 16), 14, 14);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 16), 3.5, 3.5);
  });
  MakeIcon(4, [](QPainter& p) { // RAM chip
    p.setPen(QPen(QColor(20, 20, 20), 1));
    p.setBrush(QColor(40, 120, 60));
    p.drawRect(QRectF(2, 9, 28, 14));
    p.setBrush(QColor(30, 30, 30));
    for (int i = 0; i < 4; ++i)
      p.drawRect(QRectF(4 + i * 7, 11, 5, 8));
  });
  MakeIcon(5, [](QPainter& p) { // network drive
    DrawDiskBox(p, QColor(200, 200, 210), QColor(60, 220, 60));
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.drawLine(QPointF(16, 24), QPointF(16, 30));
    p.drawLine(QPointF(6, 30), QPointF(26, 30));
  });
  MakeIcon(6, [](QPainter& p) { // image file: a document with a card
    QPolygonF doc;
    doc << QPointF(6, 2) << QPointF(20, 2) << QPointF(27, 9) << QPointF(27, 30) << QPointF(6, 30);
    p.setPen(QPen(QColor(80, 80, 90), 1));
    p.setBrush(QColor(252, 252, 255));
    p.drawPolygon(doc);
    p.setBrush(QColor(50, 90, 190));
    p.drawRect(QRectF(10, 13, 13, 13));
    p.setBrush(QColor(240, 200, 80));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(12, 14, 2, 4));
    p.drawRect(QRectF(16, 14, 2, 4));
  });
  MakeIcon(7, [](QPainter& p) { // unknown
    DrawDiskBox(p, QColor(210, 210, 210), QColor(150, 150, 150));
    p.setPen(QColor(180, 20, 20));
    p.setFont(Font(18, true));
    p.drawText(QRectF(0, 0, 32, 32), Qt::AlignCenter, "?");
  });
}

// The thumbnail view's fixed pictures, 80 x 80 bitmaps: the recovered types whose
// content is not shown, an unknown type, and a picture that could not be decoded.
void MakeThumb(const QString& name, const TDraw& draw) {
  QImage img(80, 80, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  draw(p);
  p.end();
  Save(img, name + ".bmp", "BMP");
}

void DrawCaption(QPainter& p, const QString& text, QColor color) {
  p.setPen(color);
  p.setFont(Font(15, true));
  p.drawText(QRectF(0, 54, 80, 22), Qt::AlignCenter, text);
}

void DrawFilm(QPainter& p, QColor frame) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(40, 40, 48));
  p.drawRoundedRect(QRectF(10, 6, 60, 46), 3, 3);
  p.setBrush(Qt::white);
  for (int i = 0; i < 6; ++i) { // sprocket holes
    p.drawRect(QRectF(14 + i * 9.5, 9, 5, 4));
    p.drawRect(QRectF(14 + i * 9.5, 45, 5, 4));
  }
  p.setBrush(frame);
  p.drawRect(QRectF(15, 16, 23, 26));
  p.drawRect(QRectF(42, 16, 23, 26));
  QPolygonF play;
  play << QPointF(47, 22) << QPointF(60, 29) << QPointF(47, 36);
  p.setBrush(QColor(255, 255, 255, 220));
  p.drawPolygon(play);
}

void MakeThumbs() {
  MakeThumb("THUMB_AVI", [](QPainter& p) {
    DrawFilm(p, QColor(90, 140, 220));
    DrawCaption(p, "AVI", QColor(30, 60, 140));
  });
  MakeThumb("THUMB_MOV", [](QPainter& p) {
    DrawFilm(p, QColor(120, 190, 110));
    DrawCaption(p, "MOV", QColor(30, 100, 40));
  });
  MakeThumb("THUMB_MPG", [](QPainter& p) {
    DrawFilm(p, QColor(230, 150, 70));
    DrawCaption(p, "MPG", QColor(150, 70, 10));
  });
  MakeThumb("THUMB_WAV", [](QPainter& p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 70, 110));
    QPolygonF speaker;
    speaker << QPointF(14, 22) << QPointF(24, 22) << QPointF(38, 10) << QPointF(38, 46)
            << QPointF(24, 34) << QPointF(14, 34);
    p.drawPolygon(speaker);
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
      p.setPen(QPen(QColor(60, 110, 200), 3, Qt::SolidLine, Qt::RoundCap));
      double r = 9 + i * 8;
      p.drawArc(QRectF(38 - r, 28 - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
    }
    DrawCaption(p, "WAV", QColor(40, 60, 130));
  });
  MakeThumb("THUMB_GIF", [](QPainter& p) {
    p.setPen(QPen(QColor(120, 90, 40), 2));
    p.setBrush(QColor(250, 246, 232));
    p.drawRect(QRectF(14, 8, 52, 42));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(150, 200, 240));
    p.drawRect(QRectF(18, 12, 44, 34));
    p.setBrush(QColor(70, 150, 80));
    QPolygonF hill;
    hill << QPointF(18, 46) << QPointF(32, 28) << QPointF(42, 38) << QPointF(50, 30)
         << QPointF(62, 46);
    p.drawPolygon(hill);
    p.setBrush(QColor(250, 190, 40));
    p.drawEllipse(QPointF(53, 19), 4, 4);
    DrawCaption(p, "GIF", QColor(120, 80, 20));
  });
  MakeThumb("THUMB_UNKNOWN", [](QPainter& p) {
    QPolygonF doc;
    doc << QPointF(22, 4) << QPointF(48, 4) << QPointF(60, 16) << QPointF(60, 52)
        << QPointF(22, 52);
    p.setPen(QPen(QColor(90, 90, 100), 1.5));
    p.setBrush(QColor(248, 248, 252));
    p.drawPolygon(doc);
    p.setPen(QColor(90, 90, 140));
    p.setFont(Font(28, true));
    p.drawText(QRectF(22, 10, 38, 40), Qt::AlignCenter, "?");
    DrawCaption(p, "File", QColor(70, 70, 90));
  });
  // Shown for any picture that was not decoded: a type the decoders refuse (such as
  // LZW TIFFs) as much as damaged bytes, so it says only that there is no preview.
  MakeThumb("THUMB_BROKEN", [](QPainter& p) {
    p.setPen(QPen(QColor(150, 150, 160), 1.5));
    p.setBrush(QColor(244, 245, 248));
    p.drawRect(QRectF(14, 6, 52, 38));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(212, 214, 222));
    QPolygonF hills;
    hills << QPointF(16, 42) << QPointF(30, 26) << QPointF(40, 34) << QPointF(50, 24)
          << QPointF(64, 42);
    p.drawPolygon(hills);
    p.drawEllipse(QPointF(55, 15), 4, 4);
    p.setPen(QColor(90, 90, 110));
    p.setFont(Font(12, true));
    p.drawText(QRectF(0, 46, 80, 32), Qt::AlignCenter, "No\npreview");
  });
}

// Tones: (frequency Hz, duration s) pieces, 16-bit mono PCM.
void WriteWav(const QString& name, const std::vector<std::pair<double, double>>& notes,
              double buzz = 0) {
  const int rate = 22050;
  std::vector<int16_t> samples;
  for (auto [freq, dur] : notes) {
    int n = int(dur * rate);
    for (int i = 0; i < n; ++i) {
      double t = double(i) / rate;
      double env = std::min(1.0, t / 0.01) * std::min(1.0, (dur - t) / 0.04);
      double v = std::sin(2 * Pi * freq * t) + 0.3 * std::sin(4 * Pi * freq * t);
      if (buzz > 0)
        v += buzz * (std::fmod(t * freq, 1.0) - 0.5);
      samples.push_back(int16_t(std::lround(9000 * env * v)));
    }
  }
  const uint32_t bytes = uint32_t(samples.size() * 2);
  std::vector<uint8_t> file;
  auto text = [&file](const char* s) { file.insert(file.end(), s, s + std::strlen(s)); };
  text("RIFF");
  gf::AppendLe32(file, 36 + bytes);
  text("WAVEfmt ");
  gf::AppendLe32(file, 16);
  gf::AppendLe16(file, 1);
  gf::AppendLe16(file, 1);
  gf::AppendLe32(file, rate);
  gf::AppendLe32(file, rate * 2);
  gf::AppendLe16(file, 2);
  gf::AppendLe16(file, 16);
  text("data");
  gf::AppendLe32(file, bytes);
  for (int16_t s : samples)
    gf::AppendLe16(file, uint16_t(s));
  std::ofstream o((OutDir + "/" + name).toStdString(), std::ios::binary);
  o.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  if (!o) {
    std::fprintf(stderr, "gf_resgen: cannot write %s\n", qPrintable(name));
    std::exit(1);
  }
}

void MakeSounds() {
  WriteWav("STARTWAV.wav", {{523.25, 0.09}, {783.99, 0.14}});
  WriteWav("CANCELWAV.wav", {{659.25, 0.09}, {440.0, 0.16}});
  WriteWav("OKWAV.wav", {{523.25, 0.1}, {659.25, 0.1}, {783.99, 0.1}, {1046.5, 0.25}});
  WriteWav("FAILWAV.wav", {{220.0, 0.22}, {164.81, 0.4}}, 0.4);
}

// Photographs of made-up scenes: sky, hills, a sun and some trees, each scene distinct.
void MakeSamples(int count) {
  for (int i = 0; i < count; ++i) {
    QImage img(800 + 32 * (i % 3), 600, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, img.height());
    sky.setColorAt(0, QColor::fromHsv((200 + i * 23) % 360, 120, 230));
    sky.setColorAt(1, QColor::fromHsv((30 + i * 41) % 360, 60, 250));
    p.fillRect(img.rect(), sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 220, 120));
    p.drawEllipse(QPointF(120 + i * 70, 110 + (i % 2) * 40), 50, 50);
    for (int layer = 0; layer < 3; ++layer) {
      QPainterPath hill;
      hill.moveTo(0, img.height());
      for (int x = 0; x <= img.width(); x += 8) {
        double y = 330 + layer * 70 + 50 * std::sin(x / (90.0 + layer * 30) + i + layer);
        hill.lineTo(x, y);
      }
      hill.lineTo(img.width(), img.height());
      hill.closeSubpath();
      p.setBrush(QColor::fromHsv((90 + i * 17 + layer * 12) % 360, 150, 170 - layer * 40));
      p.drawPath(hill);
    }
    for (int t = 0; t < 6; ++t) {
      double x = 60 + std::fmod(t * 137.0 + i * 59.0, double(img.width() - 120));
      double y = 470 + (t % 3) * 30;
      p.setBrush(QColor(90, 60, 30));
      p.drawRect(QRectF(x - 4, y, 8, 40));
      p.setBrush(QColor(30, 110 + t * 10, 50));
      p.drawEllipse(QPointF(x, y - 10), 24, 32);
    }
    p.setPen(QColor(255, 255, 255));
    p.setFont(Font(28, true));
    p.drawText(QRectF(20, img.height() - 50, 400, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QString("Sample picture %1").arg(i + 1));
    p.end();
    QString name = QString("SAMPLE%1").arg(i + 1, 2, 10, QChar('0'));
    // The last two go as a bitmap and a PNG, as some cameras and phones save them.
    if (i == count - 1)
      Save(img.scaled(img.size() / 2), name + ".BMP", "BMP");
    else if (i == count - 2)
      Save(img.scaled(img.size() / 2), name + ".PNG", "PNG");
    else
      Save(img, name + ".JPG", "JPG", 88);
  }
  // And a voice memo.
  WriteWav("MEMO0001.WAV", {{392.0, 0.3}, {523.25, 0.3}, {659.25, 0.4}});
}

} // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: gf_resgen resources|samples OUTDIR [COUNT]\n");
    return 2;
  }
  std::string what = argv[1];
  OutDir = QString::fromLocal8Bit(argv[2]);
  if (what == "resources") {
    MakeAbout();
    MakeAnimation();
    MakeGlyphs();
    MakeIcons();
    MakeThumbs();
    MakeSounds();
    return 0;
  }
  if (what == "samples" && argc >= 4) {
    MakeSamples(std::atoi(argv[3]));
    return 0;
  }
  std::fprintf(stderr, "gf_resgen: unknown request\n");
  return 2;
}

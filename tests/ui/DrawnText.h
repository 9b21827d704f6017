// What a widget really draws as text: renders it onto a paint device that keeps every
// piece of text with its place and width, instead of pixels. A caption that a view
// shortens or clips shows here as it is drawn, not as the item holds it.
#pragma once

#include <QtGui/QFontMetricsF>
#include <QtGui/QPaintDevice>
#include <QtGui/QPaintEngine>
#include <QtGui/QPainter>
#include <QtWidgets/QListWidget>
#include <QtWidgets/QWidget>

#include <map>
#include <string>
#include <vector>

namespace gf::test {

struct TDrawnText {
  QString Text;
  QRectF Box; // in the rendered widget's coordinates: from the baseline's start, its advance
};

class TTextRecorder : public QPaintDevice {
public:
  explicit TTextRecorder(QSize Size, int Dpi) : FEngine(*this), FSize(Size), FDpi(Dpi) {}
  QPaintEngine* paintEngine() const override { return &FEngine; }
  std::vector<TDrawnText> Texts;

protected:
  int metric(PaintDeviceMetric Metric) const override {
    switch (Metric) {
    case PdmWidth:
      return FSize.width();
    case PdmHeight:
      return FSize.height();
    case PdmWidthMM:
      return FSize.width() * 254 / (10 * FDpi);
    case PdmHeightMM:
      return FSize.height() * 254 / (10 * FDpi);
    case PdmNumColors:
      return INT_MAX;
    case PdmDepth:
      return 32;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
      return FDpi;
    case PdmDevicePixelRatio:
      return 1;
    case PdmDevicePixelRatioScaled:
      return static_cast<int>(QPaintDevice::devicePixelRatioFScale());
    default:
      return 0;
    }
  }

private:
  class TEngine : public QPaintEngine {
  public:
    explicit TEngine(TTextRecorder& Device) : QPaintEngine(AllFeatures), FDevice(Device) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawImage(const QRectF&, const QImage&, const QRectF&, Qt::ImageConversionFlags) override {
    }
    void drawRects(const QRectF*, int) override {}
    void drawRects(const QRect*, int) override {}
    void drawLines(const QLineF*, int) override {}
    void drawLines(const QLine*, int) override {}
    void drawPath(const QPainterPath&) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    void drawPolygon(const QPoint*, int, PolygonDrawMode) override {}
    void drawEllipse(const QRectF&) override {}
    void drawTextItem(const QPointF& At, const QTextItem& Item) override {
      const QTransform t = painter()->deviceTransform();
      const QPointF start = t.map(At);
      const qreal width = QFontMetricsF(Item.font()).horizontalAdvance(Item.text());
      FDevice.Texts.push_back({Item.text(), QRectF(start.x(), start.y(), width, 0)});
    }
    Type type() const override { return QPaintEngine::User; }

  private:
    TTextRecorder& FDevice;
  };

  mutable TEngine FEngine;
  QSize FSize;
  int FDpi;
};

// Every piece of text that Widget draws, in the order drawn.
inline std::vector<TDrawnText> DrawnTexts(QWidget& Widget) {
  TTextRecorder recorder(Widget.size(), Widget.logicalDpiY());
  Widget.render(&recorder, QPoint(), QRegion(), QWidget::DrawChildren);
  return recorder.Texts;
}

// The caption that each item of View shows, as drawn: the pieces of text drawn within
// the item's cell, joined in the order drawn. An item that is not in sight is missing;
// a piece of text that leaves its cell on either side is put down as "<outside>".
inline std::map<int, std::string> DrawnCaptions(QListWidget& View) {
  std::map<int, std::string> captions;
  QWidget& viewport = *View.viewport();
  for (const TDrawnText& t : DrawnTexts(viewport)) {
    for (int i = 0; i < View.count(); ++i) {
      const QRect cell = View.visualItemRect(View.item(i));
      if (!cell.contains(t.Box.topLeft().toPoint()))
        continue;
      std::string& caption = captions[i];
      if (t.Box.left() < cell.left() || t.Box.right() > cell.right() + 1 ||
          t.Box.top() > cell.bottom())
        caption += "<outside>";
      caption += t.Text.toStdString();
      break;
    }
  }
  return captions;
}

} // namespace gf::test

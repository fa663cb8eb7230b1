#include "gui/toolbar_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygonF>

namespace torvane::gui {

namespace {

// Drawn on a 24-unit square, scaled to each size asked for.
constexpr int kUnits = 24;
const QColor kGo(0x2e, 0x9d, 0x4a);
const QColor kHalt(0xc6, 0x3b, 0x2f);
const QColor kInk(0x3a, 0x4a, 0x5c);

void play(QPainter& p, qreal x, qreal scale) {
  const QPolygonF shape{{x, 5}, {x + 12 * scale, 12}, {x, 19}};
  p.setBrush(kGo);
  p.drawPolygon(shape);
}

void square(QPainter& p, qreal x, qreal y, qreal side) {
  p.setBrush(kHalt);
  p.drawRoundedRect(QRectF(x, y, side, side), 1.5, 1.5);
}

void cross(QPainter& p, qreal x, qreal y, qreal side) {
  p.setPen(QPen(kHalt, 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(x, y), QPointF(x + side, y + side));
  p.drawLine(QPointF(x + side, y), QPointF(x, y + side));
}

void page(QPainter& p, qreal x, qreal y) {
  p.setPen(QPen(kInk, 1.2));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(x, y, 11, 14));
}

void draw(QPainter& p, int index) {
  p.setPen(Qt::NoPen);
  switch (index) {
    case 0:  // start all
      play(p, 3, 0.8);
      play(p, 12, 0.8);
      break;
    case 1:  // stop all
      square(p, 2, 7, 9);
      square(p, 13, 7, 9);
      break;
    case 2:  // start
      play(p, 6, 1.0);
      break;
    case 3:  // stop
      square(p, 5, 5, 14);
      break;
    case 4: {  // retry: a ring with an arrow head
      p.setPen(QPen(kGo, 3, Qt::SolidLine, Qt::RoundCap));
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRectF(4, 4, 16, 16), 60 * 16, 290 * 16);
      p.setPen(Qt::NoPen);
      p.setBrush(kGo);
      p.drawPolygon(QPolygonF{{13, 1}, {20, 5}, {13, 9}});
      break;
    }
    case 5:  // delete
      page(p, 4, 3);
      cross(p, 11, 11, 9);
      break;
    case 6:  // delete all
      page(p, 2, 1);
      page(p, 6, 4);
      cross(p, 11, 11, 9);
      break;
    default:
      break;
  }
}

QPixmap render(int size, int index) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(static_cast<qreal>(size) / kUnits, static_cast<qreal>(size) / kUnits);
  draw(p, index);
  return pixmap;
}

QPixmap render_app(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(static_cast<qreal>(size) / kUnits, static_cast<qreal>(size) / kUnits);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x1f, 0x6f, 0xb5));
  p.drawRoundedRect(QRectF(1, 1, 22, 22), 4, 4);
  p.setBrush(Qt::white);
  // The arrow: three stripes (the divisions) joining into one head.
  for (int i = 0; i < 3; ++i) p.drawRect(QRectF(6.5 + i * 4, 4, 2.5, 8));
  p.drawPolygon(QPolygonF{{4.5, 12}, {19.5, 12}, {12, 18}});
  p.drawRect(QRectF(4, 19.5, 16, 1.8));
  return pixmap;
}

}  // namespace

QIcon toolbar_icon(int index) {
  if (index < 0 || index >= kToolbarImageCount) return {};
  QIcon icon;
  for (const int size : {16, 24, 32}) icon.addPixmap(render(size, index));
  return icon;
}

QIcon app_icon() {
  QIcon icon;
  for (const int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(render_app(size));
  return icon;
}

}  // namespace torvane::gui

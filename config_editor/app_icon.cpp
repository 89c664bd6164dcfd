#include "config_editor/app_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace config_editor {
namespace {

QPixmap DrawIcon(int side) {
  QPixmap pixmap(side, side);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const qreal s = side;
  // The database: a cylinder of three discs.
  QRectF body(s * 0.08, s * 0.12, s * 0.56, s * 0.76);
  const qreal cap = s * 0.16;
  p.setPen(QPen(QColor(20, 50, 110), std::max<qreal>(1.0, s / 32)));
  p.setBrush(QColor(60, 120, 210));
  p.drawRect(QRectF(body.left(), body.top() + cap / 2, body.width(), body.height() - cap));
  p.drawEllipse(QRectF(body.left(), body.bottom() - cap, body.width(), cap));
  for (int ring = 1; ring <= 2; ++ring) {
    qreal y = body.top() + (body.height() - cap) * ring / 3;
    p.drawArc(QRectF(body.left(), y, body.width(), cap), 180 * 16, 180 * 16);
  }
  p.setBrush(QColor(140, 185, 240));
  p.drawEllipse(QRectF(body.left(), body.top(), body.width(), cap));
  // The relay: an arrow leaving the database.
  QPainterPath arrow;
  arrow.moveTo(s * 0.50, s * 0.50);
  arrow.lineTo(s * 0.74, s * 0.50);
  arrow.lineTo(s * 0.74, s * 0.36);
  arrow.lineTo(s * 0.96, s * 0.60);
  arrow.lineTo(s * 0.74, s * 0.84);
  arrow.lineTo(s * 0.74, s * 0.70);
  arrow.lineTo(s * 0.50, s * 0.70);
  arrow.closeSubpath();
  p.setPen(QPen(QColor(20, 90, 30), std::max<qreal>(1.0, s / 32)));
  p.setBrush(QColor(60, 170, 70));
  p.drawPath(arrow);
  return pixmap;
}

}  // namespace

QIcon ApplicationIcon() {
  QIcon icon;
  for (int side : {16, 24, 32, 48, 64}) icon.addPixmap(DrawIcon(side));
  return icon;
}

}  // namespace config_editor

#include "gui/LinkLabel.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace velmora::gui {

LinkLabel::LinkLabel(const QString& text, QWidget* parent, QColor color) : QLabel(text, parent) {
  setTextFormat(Qt::PlainText);
  setCursor(Qt::PointingHandCursor);
  // Reachable from the keyboard as well: Tab to it, Space or Enter to follow it.
  setFocusPolicy(Qt::TabFocus);
  QFont f = font();
  f.setUnderline(true);
  setFont(f);
  if (color.isValid()) {
    QPalette p = palette();
    p.setColor(QPalette::WindowText, color);
    setPalette(p);
  }
}

void LinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
    return;
  }
  QLabel::mouseReleaseEvent(event);
}

void LinkLabel::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    emit clicked();
    return;
  }
  QLabel::keyPressEvent(event);
}

} // namespace velmora::gui

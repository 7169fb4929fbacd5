#include "TMMColorButton.h"

#include <QColorDialog>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace tv {

namespace {

TMMColorButton::TColorPrompt& Prompt() {
  static TMMColorButton::TColorPrompt prompt;
  return prompt;
}

struct Named {
  const char* name;
  int32_t value;  // 0x00BBGGRR
};

// The sixteen colours of the classic palette.
constexpr Named kStandard[] = {
    {"Black", 0x000000},  {"Maroon", 0x000080}, {"Green", 0x008000},  {"Olive", 0x008080},
    {"Navy", 0x800000},   {"Purple", 0x800080}, {"Teal", 0x808000},   {"Gray", 0x808080},
    {"Silver", 0xC0C0C0}, {"Red", 0x0000FF},    {"Lime", 0x00FF00},   {"Yellow", 0x00FFFF},
    {"Blue", 0xFF0000},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0xFFFF00},  {"White", 0xFFFFFF},
};

QIcon Swatch(const QColor& c) {
  QPixmap pm(16, 12);
  pm.fill(c);
  QPainter p(&pm);
  p.setPen(Qt::black);
  p.drawRect(0, 0, 15, 11);
  return QIcon(pm);
}

}  // namespace

QColor ColorFromRgbValue(int32_t value) {
  const auto v = static_cast<uint32_t>(value);
  return QColor(static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                static_cast<int>((v >> 16) & 0xFF));
}

int32_t RgbValueOf(const QColor& color) {
  return static_cast<int32_t>(static_cast<uint32_t>(color.red()) |
                              (static_cast<uint32_t>(color.green()) << 8) |
                              (static_cast<uint32_t>(color.blue()) << 16));
}

TMMColorButton::TMMColorButton(QWidget* parent) : QPushButton(parent) {
  auto* menu = new QMenu(this);
  for (const Named& n : kStandard) {
    const QColor c = ColorFromRgbValue(n.value);
    menu->addAction(Swatch(c), tr(n.name), this, [this, c] { SetColor(c); });
  }
  menu->addSeparator();
  menu->addAction(tr("&Other..."), this, [this] { ChooseOther(); });
  setMenu(menu);
}

void TMMColorButton::SetColor(const QColor& color) {
  if (!color.isValid()) return;
  const QColor opaque = color.toRgb();
  if (RgbValueOf(opaque) == RgbValueOf(color_)) return;
  color_ = QColor(opaque.red(), opaque.green(), opaque.blue());
  update();
  emit colorChanged(color_);
}

void TMMColorButton::SetColorPrompt(TColorPrompt prompt) { Prompt() = std::move(prompt); }

void TMMColorButton::ChooseOther() {
  const QColor chosen = Prompt() ? Prompt()(this, color_)
                                 : QColorDialog::getColor(color_, this, tr("Color"));
  SetColor(chosen);
}

QSize TMMColorButton::sizeHint() const { return {64, 22}; }

void TMMColorButton::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);
  QPainter p(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  const QRect r = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this)
                      .adjusted(2, 2, -16, -2);
  p.fillRect(r, color_);
  p.setPen(palette().color(QPalette::WindowText));
  p.drawRect(r.adjusted(0, 0, -1, -1));
}

}  // namespace tv

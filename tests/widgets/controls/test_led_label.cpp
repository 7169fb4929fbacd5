#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QSignalSpy>

#include "LedPaint.h"
#include "TMMLEDLabel.h"

namespace tv {
namespace {

// Renders the label's picture at a size where each dot is 4 x 4 pixels.
QImage Render(const TMMLEDLabel& label) {
  const int w = 4 * (label.Cells() * led::kCellDotsWide + 1);
  const int h = 4 * led::kCellDotsHigh;
  QImage image(w, h, QImage::Format_RGB32);
  QPainter painter(&image);
  label.paint(painter, QRectF(0, 0, w, h));
  return image;
}

// Lit dots per cell: a dot is lit when its centre has the lit colour.
std::vector<int> LitDotsPerCell(const QImage& image, int cells, const QColor& lit) {
  std::vector<int> counts(static_cast<size_t>(cells), 0);
  for (int cell = 0; cell < cells; ++cell) {
    for (int row = 0; row < 7; ++row) {
      for (int col = 0; col < 5; ++col) {
        const int x = 4 * (1 + cell * led::kCellDotsWide + col) + 2;
        const int y = 4 * (1 + row) + 2;
        if (image.pixelColor(x, y) == lit) ++counts[static_cast<size_t>(cell)];
      }
    }
  }
  return counts;
}

TEST(LedLabel, HasSixtyOneAquaCellsOnBlackByDefault) {
  TMMLEDLabel label;
  EXPECT_EQ(label.Cells(), 61);
  EXPECT_EQ(label.LitColor(), QColor(0, 255, 255));
  EXPECT_EQ(label.BackColor(), QColor(0, 0, 0));
}

TEST(LedLabel, CaptionGrowsByAppendAndSignalsOnlyRealChanges) {
  TMMLEDLabel label;
  QSignalSpy changed(&label, &TMMLEDLabel::captionChanged);
  label.SetCaption(QStringLiteral("12"));
  label.Append(QStringLiteral("3"));
  label.Append(QString());
  label.SetCaption(QStringLiteral("123"));
  EXPECT_EQ(label.Caption(), QStringLiteral("123"));
  EXPECT_EQ(changed.count(), 2);
  label.Clear();
  EXPECT_TRUE(label.Caption().isEmpty());
}

TEST(LedLabel, LongCaptionKeepsAllTextAndShowsItsEnd) {
  TMMLEDLabel label;
  label.SetCells(5);
  label.SetCaption(QStringLiteral("0123456789"));
  EXPECT_EQ(label.Caption().size(), 10);
  EXPECT_EQ(label.VisibleText(), QStringLiteral("56789"));
  EXPECT_EQ(label.FirstCell(), 0);
}

TEST(LedLabel, ShortCaptionStandsWhereTheAlignmentSays) {
  TMMLEDLabel label;
  label.SetCells(10);
  label.SetCaption(QStringLiteral("AB"));
  EXPECT_EQ(label.FirstCell(), 0);
  label.SetAlignment(Qt::AlignRight);
  EXPECT_EQ(label.FirstCell(), 8);
  label.SetAlignment(Qt::AlignHCenter);
  EXPECT_EQ(label.FirstCell(), 4);
}

TEST(LedLabel, PaintsLitDotsOnlyInTheCellsOfTheText) {
  TMMLEDLabel label;
  label.SetCells(6);
  label.SetCaption(QStringLiteral("8 1"));
  const std::vector<int> lit = LitDotsPerCell(Render(label), 6, label.LitColor());
  // "8": 3 rows of 3 dots and 4 rows of 2; "1": 10 dots; blanks stay dark.
  EXPECT_EQ(lit[0], 17);
  EXPECT_EQ(lit[1], 0);
  EXPECT_EQ(lit[2], 10);
  EXPECT_EQ(lit[3], 0);
  EXPECT_EQ(lit[4], 0);
  EXPECT_EQ(lit[5], 0);
}

TEST(LedLabel, DrawsUnlitDotsDimAndTheBackgroundBetweenThem) {
  TMMLEDLabel label;
  label.SetCells(1);
  label.SetCaption(QStringLiteral(" "));
  const QImage image = Render(label);
  const QColor dot = image.pixelColor(4 * 1 + 2, 4 * 1 + 2);
  EXPECT_NE(dot, label.LitColor());
  EXPECT_NE(dot, label.BackColor());
  EXPECT_EQ(image.pixelColor(0, 0), label.BackColor());
}

TEST(LedLabel, RecolouredLabelPaintsInItsNewColour) {
  TMMLEDLabel label;
  label.SetCells(1);
  label.SetLitColor(QColor(255, 0, 0));
  label.SetCaption(QStringLiteral("1"));
  EXPECT_EQ(LitDotsPerCell(Render(label), 1, QColor(255, 0, 0))[0], 10);
}

TEST(LedPaint, AccentedLettersFallBackToTheirBaseLetterAndUnknownsToQuestionMark) {
  EXPECT_EQ(led::GlyphFor(QChar(0x00E9)), led::GlyphFor(QLatin1Char('e')));
  EXPECT_EQ(led::GlyphFor(QChar(0x00C4)), led::GlyphFor(QLatin1Char('A')));
  EXPECT_EQ(led::GlyphFor(QChar(0x4E2D)), led::GlyphFor(QLatin1Char('?')));
  EXPECT_NE(led::GlyphFor(QLatin1Char('#')), led::GlyphFor(QLatin1Char('*')));
}

}  // namespace
}  // namespace tv

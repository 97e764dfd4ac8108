// Dialog units: the coordinates of the dialog forms. A horizontal unit is a
// quarter of the dialog font's average character width, a vertical unit an
// eighth of its height, so a form grows with its font. Fonts differ in how
// wide their capitals, blanks and digits are against that average, so the
// horizontal unit is widened, when needed, until every caption of the form
// fits its control and every line edit with a "fitText" property shows a
// number of that shape whole ("0000000000": any ten digits; each digit
// counts as wide as the font's widest).
//
// The Designer forms store every geometry at a fixed two pixels per dialog
// unit in both directions (so they look right in Designer); apply() turns
// those into pixels for the font the dialog really has.
#pragma once

#include <QFont>
#include <QRect>

class QGroupBox;
class QWidget;

namespace rigbench {

class DialogUnits {
 public:
  static constexpr int kFormPixelsPerUnit = 2;

  // The units of a form's font, widened for its captions.
  static DialogUnits forForm(const QWidget& form);
  explicit DialogUnits(const QFont& font);

  double pixelsPerUnitX() const { return perUnitX_; }
  double pixelsPerUnitY() const { return perUnitY_; }
  QRect toPixels(const QRect& units) const;

  // Places every child of `form` (laid out in the form's two pixels per
  // unit) for these units, and fixes the form's own size the same way.
  void apply(QWidget& form) const;

 private:
  // A group box's frame as the form's units mean it, whatever the desktop
  // style: its top line half the font's height below the box's top edge,
  // through the middle of the caption, so that the controls placed below
  // the caption stay clear of it.
  void placeFrame(QGroupBox& box) const;

  void fitCaptions(const QWidget& form);

  double perUnitX_;
  double perUnitY_;
};

// A geometry of a form as stored in its .ui file, in dialog units.
QRect formUnits(const QRect& formPixels);

}  // namespace rigbench

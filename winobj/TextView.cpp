// TextView: the viewer's key loop, page and line moves and scroll marks.
#include <winkit/TextView.h>

#include <zfound/Message.h>
#include <zfound/SubString.h>

namespace {

constexpr long kRows = 16;
constexpr long kShift = 10;
constexpr long kMaxOffset = 256;
constexpr long kHintAttr = 512;

constexpr unsigned char kBlank = 0xA0;
constexpr unsigned char kUpMark = 0xAC;
constexpr unsigned char kDownMark = 0xAD;

}  // namespace

TextView::TextView(LineFn lines, String const& title, long row, long col) : WinObj(row, col), lines_(lines) {
  border = 242;
  label = title;
  nAttr = 0;
}

bool TextView::exists(long n) const { return n >= 1 && !lines_(n).isHighest(); }

bool TextView::display(long r, long c) {
  if (!wi->hidden()) {
    front();
    return true;
  }
  height = kRows;
  width = -1;
  WinObj::display(r, c);
  wi->wrap(false);
  wi->cursor(false);
  String name;
  Window::keyHelp(129, name);
  String hint = libMsg("HELPMSG1");
  wi->goTo(kRows, width - 1 - (name.length() + hint.length()));
  wi->setAttr(kHintAttr);
  *wi << name;
  wi->setAttr(0);
  *wi << hint;
  wi->goTo(0, 0);
  wi->setScroll(0, kRows - 1, 0, width - 1);
  return true;
}

void TextView::displayLine(long r, String const& text) {
  wi->goTo(r, 1);
  wi->eraseEol();
  if (!text.isNull() && !text.isHighest() && offset_ < text.length())
    *wi << String(SubString(&text, offset_, String::kMaxLength));
  wi->goTo(kRows - 1, 1);
}

void TextView::updateScrBars() {
  unsigned char up = exists(nextLine_ - kRows - 1) ? kUpMark : kBlank;
  unsigned char down = exists(nextLine_) ? kDownMark : kBlank;
  wi->goTo(0, -1);
  *wi << up;
  wi->goTo(0, width);
  *wi << up;
  wi->goTo(kRows - 1, -1);
  *wi << down;
  wi->goTo(kRows - 1, width);
  *wi << down;
  wi->goTo(kRows, width);
}

// The next 16 lines, missing ones as empty rows.
void TextView::showPage() {
  for (long r = 0; r < kRows; ++r) displayLine(r, lines_(nextLine_++));
}

// The same 16 lines again (after a sideways shift).
void TextView::showAgain() {
  long first = nextLine_ - kRows;
  for (long r = 0; r < kRows; ++r) displayLine(r, first + r >= 1 ? lines_(first + r) : String());
}

long TextView::execute(unsigned char) {
  bool wasHidden = wi->hidden();
  display(-1, -1);
  offset_ = 0;
  nextLine_ = 1;
  unsigned char key = 139;
  for (;;) {
    switch (key) {
      case 132:
      case 135:
        if (exists(nextLine_)) {
          wi->scroll(1);
          displayLine(kRows - 1, lines_(nextLine_));
          ++nextLine_;
        } else {
          wi->beep();
        }
        break;
      case 133:
        if (nextLine_ > kRows + 1) {
          wi->scroll(-1);
          displayLine(0, lines_(nextLine_ - kRows - 1));
          --nextLine_;
        } else {
          wi->beep();
        }
        break;
      case 136:
      case 140:
        if (offset_ >= kMaxOffset) {
          wi->beep();
        } else {
          offset_ = offset_ + kShift > kMaxOffset ? kMaxOffset : offset_ + kShift;
          showAgain();
        }
        break;
      case 134:
      case 138:
        if (offset_ <= 0) {
          wi->beep();
        } else {
          offset_ = offset_ - kShift < 0 ? 0 : offset_ - kShift;
          showAgain();
        }
        break;
      case 137:
        if (nextLine_ <= kRows + 1) {
          wi->beep();
        } else {
          nextLine_ = nextLine_ - 2 * kRows < 1 ? 1 : nextLine_ - 2 * kRows;
          showPage();
        }
        break;
      case 139:
        if (exists(nextLine_))
          showPage();
        else
          wi->beep();
        break;
      default:
        wi->beep();
        break;
    }
    updateScrBars();
    key = wi->getKey();
    lastKey_ = key;
    if (key == 129 || key == 146) break;
  }
  if (wasHidden) unDisplay();
  return lastKey_ == 129 ? -1 : 0;
}

// Input cells (see Cell.h).
#include <winkit/Cell.h>

#include <zfound/Assert.h>

#include <string>

namespace {

constexpr unsigned char kHelp = 148;

}  // namespace

Cell::Cell(long start, long maxLen, long dispWidth, long flags, String const& mask2, String const& mask1, long r,
           long c, StrHistory* history)
    : WinObj(r, c),
      start_(start),
      maxLen_(maxLen),
      dispWidth_(dispWidth),
      flags_(flags),
      mask2_(mask2),
      mask1_(mask1),
      history_(history) {
  border = 0;
  height = 1;
  width = dispWidth;
}

bool Cell::display(long r, long c) {
  WinObj::display(r, c);
  wi->wrap(false);
  return true;
}

void Cell::writeStr() {
  if (wi->hidden()) return;
  wi->goTo(0, 0);
  String shown = value_;
  if (mask1_) {
    std::string compiled = "\x01" + std::string(toCharPtr(mask1_)) + "\x01" +
                           (mask2_ ? std::string(toCharPtr(mask2_)) : std::string());
    shown = value_.format(String(static_cast<long>(compiled.size()), compiled.data()));
  }
  *wi << shown;
  long pad = dispWidth_ - shown.length();
  if (pad > 0) *wi << String(pad, ' ');
  wi->eraseEol();
  wi->goTo(0, 0);
  Window::refresh();
}

StrCell::StrCell(long maxLen, long dispWidth, long start, long r, long c, StrHistory* history)
    : Cell(start, maxLen, dispWidth, 0, String(), String(), r, c, history) {}

bool StrCell::display(long r, long c) {
  if (!wi->hidden()) {
    front();
    return true;
  }
  Cell::display(r, c);
  writeStr();
  return true;
}

long StrCell::execute(unsigned char) {
  if (!active) return -2;
  bool wasHidden = wi->hidden();
  display(-1, -1);
  for (;;) {
    long k = wi->getField(1, value_, start_, maxLen_, dispWidth_, flags_, mask2_, mask1_);
    lastKey_ = static_cast<unsigned char>(k < 0 ? 129 : k);
    if (lastKey_ != kHelp || !history_) break;
    history_->execute(value_);
    front();
  }
  writeStr();
  wi->goTo(0, 0);
  Window::flush();
  if (wasHidden) unDisplay();
  if (lastKey_ == 129) return -1;
  return action ? action->execute() : 0;
}

FStrCell::FStrCell(String const& mask, long start, long r, long c) : StrCell(0, 0, start, r, c, nullptr) {
  ZF_ASSERT(mask.isNull() || mask[0] != '\1');
  String compiled = mask;
  compiled.compileMask();
  // The compiled text: 0x01, attribute codes, 0x01, literal characters.
  long second = compiled.isNull() ? -1 : compiled.index('\1', 1);
  if (second > 0) {
    mask1_ = String(compiled(1, second - 1));
    mask2_ = String(compiled(second + 1));
  }
  long n = mask1_.length() - 1;
  maxLen_ = dispWidth_ = width = n > 0 ? n : 0;
}

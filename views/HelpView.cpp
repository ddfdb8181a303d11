// Help views: the contents scanned for "@key@" references, each replaced by
// its bold bracketed label, over a text of their own kept in memory.
#include <winkit/HelpView.h>

#include <zfound/Assert.h>

#include <cerrno>
#include <string>

namespace {

// A help text: in memory only, never loaded, dropped or written back (it
// carries the stream bit, which keeps files and reloading away from it).
class HelpText : public EditableText {
public:
  explicit HelpText(String const& name) {
    name_ = name;
    type_ = TextEditable | TextStream;
    active_ = true;
    stored_ = true;
  }
  // Never given a file, never read from one: reloading or loading a help
  // view leaves its lines as they are.
  void setFile(String const&, bool) override {}
  bool load() override { return false; }
  // Never written anywhere, whoever asks.
  bool store() override {
    errNo_ = EROFS;
    return false;
  }
};

String fromStd(std::string const& s) { return String(static_cast<long>(s.size()), s.data()); }

}  // namespace

HelpView::HelpView(String const& name, String const& contents, String const& label, HelpLabelSource* labels)
    : EditableView(name, new HelpText(name)) {
  std::string all = contents.isNull() ? std::string() : std::string(toCharPtr(contents), size_t(contents.length()));
  size_t start = 0;
  long lineNo = 0;
  while (start <= all.size()) {
    size_t nl = all.find('\n', start);
    if (nl == std::string::npos && start == all.size() && !all.empty()) break;
    std::string in = all.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    std::string out;
    long escBytes = 0;  // bytes of escape sequences written so far on this line
    size_t i = 0;
    while (i < in.size()) {
      size_t at = in.find('@', i);
      size_t close = at == std::string::npos ? at : in.find('@', at + 1);
      if (close == std::string::npos) {
        out += in.substr(i);
        break;
      }
      out += in.substr(i, at - i);
      String key = fromStd(in.substr(at + 1, close - at - 1));
      String shown = labels ? labels->getHlpLabel(key) : key;
      if (shown.isHighest() || shown.isNull()) shown = key;
      std::string lab = shown.isNull() ? std::string() : std::string(toCharPtr(shown), size_t(shown.length()));
      auto ref = std::make_unique<CrossReference>();
      ref->key = key;
      ref->line = ref->lastLine = static_cast<int32_t>(lineNo);
      out += "\033[1m";
      escBytes += 4;
      ref->startCol = static_cast<int32_t>(long(out.size()) - escBytes);
      out += "[" + lab + "] ";
      ref->endCol = static_cast<int32_t>(ref->startCol + long(lab.size()) + 1);
      out += "\033[0m";
      escBytes += 4;
      xrefs_.push_back(std::move(ref));
      i = close + 1;
    }
    text_->add(fromStd(out));
    ++lineNo;
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  text_->encodeAttrs(-1, -1, -1, -1);
  text_->resetModif();
  cursor_->goTo(0, 0);
  label_ = label.isNull() ? name : label;
  easyExit_ = true;
}

HelpView::~HelpView() = default;

void HelpView::goToXRef(long n) {
  ZF_ASSERT(isInRange(n));
  CrossReference const& r = *xrefs_[size_t(n)];
  goCursor(r.line, r.startCol, false);
}

void HelpView::goToNext() {
  if (xrefs_.empty()) return;
  current_ = (current_ < 0 || current_ >= xrefCount() - 1) ? 0 : current_ + 1;
  goToXRef(current_);
}

void HelpView::goToPrev() {
  if (xrefs_.empty()) return;
  current_ = current_ <= 0 ? static_cast<int32_t>(xrefCount() - 1) : current_ - 1;
  goToXRef(current_);
}

String HelpView::getXRefKey() {
  long line = cursor_->line(), col = cursor_->column();
  for (auto const& r : xrefs_)
    if (r->line == line && col >= r->startCol && col <= r->endCol) return r->key;
  for (long i = 0; i < xrefCount(); ++i) {
    CrossReference const& r = *xrefs_[size_t(i)];
    if (r.line > line || (r.line == line && r.startCol > col)) {
      current_ = static_cast<int32_t>(i);
      goToXRef(i);
      break;
    }
  }
  return String();
}

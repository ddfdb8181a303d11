// The help view: an editable view over a help text whose cross references
// ("@key@" in the contents) show as bold bracketed labels.
//
// The help text lives in memory only: it is read from no file or command,
// shared with no other view, kept while the view is hidden and never
// stored. The view keeps its references in the order they occur, each with
// the screen columns of its "[" and "]".
//
// States of `current`: -1 (no reference chosen) -> goToNext / goToPrev /
// getXRefKey -> the index of the chosen reference.
#pragma once
#include <winkit/EditView.h>

#include <memory>
#include <vector>

// Where a help view takes the display label of a help key from (the
// application frame). A label that is the highest String means "none".
class HelpLabelSource {
public:
  virtual ~HelpLabelSource() = default;
  virtual String getHlpLabel(String const& key) = 0;
};

// A reference's key and the place of its bracketed label.
struct CrossReference {
  String key;
  int32_t line;
  int32_t startCol;
  int32_t lastLine;
  int32_t endCol;
};

class HelpView : public EditableView {
public:
  // A help view known by `name` (the command's name), showing `contents`
  // with its references resolved through `labels` (null: each key is its own
  // label), labelled `label` (null: `name`).
  HelpView(String const& name, String const& contents, String const& label, HelpLabelSource* labels);
  HelpView(HelpView const&) = delete;
  HelpView& operator=(HelpView const&) = delete;
  ~HelpView() override;

  HelpView* helpView() override { return this; }

  // The next / previous reference (wrapping) made current, the cursor on it.
  void goToNext();
  void goToPrev();
  // The cursor to reference n.
  void goToXRef(long n);
  // The key under the cursor; else the next reference after the cursor is
  // made current and null is answered.
  String getXRefKey();
  long xrefCount() const { return static_cast<long>(xrefs_.size()); }
  CrossReference const& xref(long n) const { return *xrefs_[static_cast<size_t>(n)]; }
  long currentXRef() const { return current_; }

private:
  bool isInRange(long n) const { return n >= 0 && n < xrefCount(); }

  std::vector<std::unique_ptr<CrossReference>> xrefs_;
  int32_t current_ = -1;
};

// viewdemo FILE...: each FILE in an editable view (a name given twice shares
// its text), the first at row 1, column 1, 9 rows by 78 columns, the others
// at row 12; the last one is current. Its own key loop (no commands):
//   printable bytes type; Enter splits the line (indenting); Backspace, Del;
//   Tab; Up, Down, Left, Right move by one, PgUp and PgDn by a page; Ins
//   toggles insert mode; F2 stores the current view's text;
//   Alt then "b" begins a block, "c" copies the region into the program's
//   own list and drops the mark, "v" inserts that list, "d" deletes the
//   region, "n" makes the next view current, "t" toggles control mode;
//   Esc ends (status 0).
// Under ZEPH_HEADLESS the keys come from a key script and the screens go to
// ZEPH_SCREEN.
#include <winkit/EditView.h>
#include <winkit/Window.h>

#include <zeph/Wi.h>

#include <zfound/AppMain.h>
#include <zfound/Message.h>
#include <zfound/OptionParser.h>

#include <memory>
#include <vector>

namespace {

enum : unsigned char {
  kEsc = 129, kEnter = 132, kUp = 133, kLeft = 134, kDown = 135, kRight = 136, kPgUp = 137, kPgDn = 139,
  kBackspace = 141, kIns = 143, kDel = 144, kTab = 146, kSave = 147, kAlt = 155
};

bool printable(unsigned char c) { return (c >= 32 && c < 127) || c >= 160; }

}  // namespace

class ViewDemoApp : public CVApp {
public:
  static String appName() { return String("viewdemo"); }
  static String appVersion() { return String("1.0"); }
  static OptionParser* cmdLine() {
    static OptionParser* parser = new OptionParser(false);
    return parser;
  }

  int32_t execute() override {
    if (argVal(1).isNull()) {
      error(appMsg("USAGE"));
      return 1;
    }
    Window::rootWindow();
    std::vector<std::unique_ptr<EditableView>> views;
    for (int i = 1; !argVal(i).isNull(); ++i) views.push_back(std::make_unique<EditableView>(argVal(i)));
    for (size_t i = 0; i < views.size(); ++i)
      views[i]->activate(i == 0 ? 1 : 12, 1, 9, 78, i + 1 == views.size());
    size_t cur = views.size() - 1;
    StringList copied;
    for (;;) {
      EditableView& v = *views[cur];
      unsigned char k = v.getKey();
      switch (k) {
        case kEsc:
          views.clear();
          WiDisconnect();
          return 0;
        case kEnter: v.insNewLine(true); break;
        case kBackspace: v.backSpace(); break;
        case kDel: v.delChar(); break;
        case kTab: v.tab(); break;
        case kUp: v.cursUp(1); break;
        case kDown: v.cursDown(1); break;
        case kLeft: v.cursLeft(1); break;
        case kRight: v.cursRight(1); break;
        case kPgUp: v.pageUp(1); break;
        case kPgDn: v.pageDown(1); break;
        case kIns: v.chgInsMode(true); break;
        case kSave:
          if (!v.store()) v.beep();
          break;
        case kAlt:
          switch (v.getKey()) {
            case 'b': v.beginBlock(); break;
            case 'c':
              if (v.hasBlock()) {
                copied.delAll();
                v.getRegion(copied, v.getBlock());
                v.delBlock(true);
              }
              break;
            case 'v': v.insertText(copied); break;
            case 'd':
              if (v.hasBlock()) {
                TextCursor mark(v.getBlock());
                v.delBlock(false);
                v.delRegion(mark, true);
              }
              break;
            case 'n':
              v.setCurrent(false);
              cur = (cur + 1) % views.size();
              views[cur]->setCurrent(true);
              break;
            case 't': v.chgCtrolMode(); break;
            default: v.beep(); break;
          }
          break;
        default:
          if (printable(k))
            v.insChar(k);
          else
            v.beep();
          break;
      }
      views[cur]->showBlock();
      Window::refresh();
    }
  }
};

ZF_APP_MAIN(ViewDemoApp)

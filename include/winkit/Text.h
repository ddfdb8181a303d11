// The text model: a list of lines with tabs laid out by fill bytes and with
// display attributes kept as zones apart from the characters.
//
// In-memory line form: a tab stands at the last column of its tab stop and
// is preceded by fill bytes (0x1F) from where it was met, so every byte takes
// one column; attribute escape sequences are removed from the lines and kept
// as zones. Reading a text lays tabs out and turns sequences into zones;
// writing (EditableText::store) does the reverse.
//
// Zones are pairs of TextCursors registered with the text, so they follow
// every insertion and deletion of lines and of characters made through a
// cursor. Zones never overlap and are kept sorted by their start.
//
// Text states: inactive (no lines) -> activate/load -> active (lines in
// memory) -> deActivate -> inactive. Stream texts (type 2) and texts read
// from the administered store (type 4) are active from construction and are
// never loaded, reloaded or dropped.
#pragma once
#include <winkit/WaitHook.h>
#include <winkit/List.h>
#include <zfound/OsFile.h>
#include <zfound/Stream.h>
#include <zfound/String.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Text;
class EditableText;
class EditableTextCursor;
class FileText;

// The type bits of a text.
typedef int32_t TextType;
enum : TextType { TextEditable = 1, TextStream = 2, TextAdmin = 4, TextPreserved = 32 };

// Attribute bits: single flags in bits 8 to 11, the foreground colour as a
// number in bits 16 to 18 and the background colour in bits 20 to 22.
enum : int32_t {
  AttrUnderline = 0x100,
  AttrReverse = 0x200,
  AttrBlink = 0x400,
  AttrBold = 0x800,
  AttrFlags = 0xF00,
  AttrDisplayMark = 0x2000,  // a highlight of the views; never marks a text modified
  AttrFgMask = 0x70000,
  AttrBgMask = 0x700000
};

// A line and column in a text. Moving between lines goes through the list
// cursor; the column is free (it may lie past the line's end).
class TextCursor : public StringListCursor {
public:
  TextCursor() : column_(0) {}
  // On the text's first line, column 0.
  explicit TextCursor(Text const& t);
  TextCursor(TextCursor const& o) : StringListCursor(o), column_(o.column_) {}
  TextCursor& operator=(TextCursor const& o);
  TextCursor& operator=(Text const& t);
  ~TextCursor() override;

  // Line numbers first, then columns.
  long cmp(BaseListCursor const& o) const override;
  // Line 0, column 0 (the node is left as it is).
  void reset() override;
  virtual EditableTextCursor* edTextCur() { return nullptr; }
  virtual FileText* fileTextCur() { return nullptr; }

  long column() const { return column_; }
  long line() const { return order_; }
  void goToCol(long c) { column_ = static_cast<int32_t>(c); }
  // Line l, column kept.
  void goTo(long l) { BaseListCursor::goTo(l); }
  void goTo(long l, long c) {
    BaseListCursor::goTo(l);
    column_ = static_cast<int32_t>(c);
  }
  // First / last line, column 0 when the line exists.
  void goToFirst();
  void goToLast();
  TextCursor& operator++() { next(1); return *this; }
  TextCursor& operator--() { next(-1); return *this; }
  TextCursor& operator+=(long n) { next(n); return *this; }
  TextCursor& operator-=(long n) { next(-n); return *this; }
  // The text this cursor is on (null without one).
  Text* text() const;

  // Adds n to the column; a negative column moves up through the lines (each
  // line's length, plus 1 with countLineEnd) and stops at column 0 of line 0.
  void moveCol(long n, bool countLineEnd);
  // Inserts c before the column; other cursors on the line at or after the
  // column move right. False when the line could not change (no line, full).
  bool insChar(char c);
  // Deletes the character at the column; other cursors after it move left.
  bool delChar();
  // Deletes n characters at the column (as n delChar calls, with one walk
  // over the other cursors); the number deleted.
  long delChars(long n);
  // Column of the first byte that is neither white space nor a fill byte
  // (the line's length when there is none).
  long goFirstNonSp();

protected:
  int32_t column_;

private:
  // Cuts the text's zones back from the n characters at the column.
  void dropZonesOver(long n);
};

// A zone: from begin to end (both inside) with attribute bits.
class AttributeBlock {
public:
  AttributeBlock() : attrib(0) {}
  explicit AttributeBlock(TextCursor const& at) : begin(at), end(at), attrib(0) {}
  AttributeBlock(TextCursor const& b, TextCursor const& e, int32_t a) : begin(b), end(e), attrib(a) {}
  AttributeBlock(AttributeBlock const& o) = default;
  AttributeBlock& operator=(AttributeBlock const& o) = default;
  TextCursor begin;
  TextCursor end;
  int32_t attrib;
};

// The zones of one text: sorted by begin, never overlapping, with the run
// last found by getAttribute cached (an index into the zones or the gap
// before one, checked against the live cursors on every use).
class AttributeZones {
public:
  AttributeZones();
  ~AttributeZones();
  AttributeZones(AttributeZones const&) = delete;
  AttributeZones& operator=(AttributeZones const&) = delete;

  long count() const { return static_cast<long>(zones_.size()); }
  AttributeBlock const& zone(long i) const { return *zones_[i]; }
  // Inserts a copy at its sorted place; one with the same begin is replaced.
  void add(AttributeBlock const& b);
  // Deletes zone i.
  void del(long i);
  // Deletes every zone.
  void clear();
  // Index of the zone beginning at b.begin, or the complement of where it goes.
  long find(AttributeBlock const& b) const;
  // Makes room for n zones.
  void reAlloc(long n);
  // The attribute at `at` and, in lastCol, the last column of that run on the
  // cursor's line (0x7fffffff when the run goes on past the line).
  int32_t getAttribute(TextCursor const& at, long& lastCol);
  // Adds / removes bits over from..to inclusive; false when from is after to.
  bool setAttribute(TextCursor from, TextCursor const& to, int32_t bits);
  bool delAttribute(TextCursor from, TextCursor const& to, int32_t bits);
  // Does nothing; false.
  bool delAttribute(TextCursor const&, int32_t) { return false; }
  // Writes "Table limit : " and the count, then every zone, to standard output.
  void debug() const;
  // Both ends exist and begin <= at <= end.
  static bool inZone(TextCursor const& at, TextCursor const& begin, TextCursor const& end);

private:
  void invalidate() { cacheValid_ = false; }
  // Index of the zone with the greatest begin not after (line, col), or -1.
  long lastAtOrBefore(long line, long col) const;
  // Splits the zone that holds `at` after its start, so a zone starts at `at`.
  void splitAt(TextCursor const& at);
  // Splits the zone that holds `to` before its end, so a zone ends at `to`.
  void splitAfter(TextCursor const& to);
  // Splits the zones at both ends of from..to; the index of the first zone
  // that begins at or after from (count() when none does).
  long splitRange(TextCursor const& from, TextCursor const& to);

  std::vector<std::unique_ptr<AttributeBlock>> zones_;
  // Cached run: a zone (index) or the gap before zone cacheIndex_ (count()
  // for the gap after the last zone).
  bool cacheValid_;
  bool cacheIsGap_;
  long cacheIndex_;
};


class Text : public StringList {
public:
  // Empty, type 0, inactive, no name, no views.
  Text();
  // As Text() with the name; when the file cannot be examined the
  // administered store is tried at once (loadAdminFile).
  explicit Text(String const& name);
  // A stream text: type 2, active, stored, named after the command; unless
  // noRead, the command's whole output is read now.
  Text(String const& command, bool noRead);
  ~Text() override;
  Text(Text const&) = delete;
  Text& operator=(Text const&) = delete;

  virtual EditableText* edText() { return nullptr; }
  virtual FileText* fileText() { return nullptr; }
  // Gives the text a file name (it becomes an ordinary text of type 0) and,
  // for an active text, reloads it when asked; modif is cleared.
  virtual void setFile(String const& name, bool reload);
  // Reads the file into an active ordinary text; false otherwise.
  virtual bool load();
  // Marks an inactive ordinary text active and loads it; false otherwise.
  virtual bool activate();
  // Drops the lines of an active ordinary text (type 0, inactive).
  virtual void deActivate();

  // Reads "checkout -p NAME" through a pipe; false (no lines) when it fails.
  bool loadAdminFile(String const& name);

  static long tabSize() { return tabSize_; }
  // Sets the tab width of every text (values below 1 are refused).
  static void tabSize(long n);

  long nLines() const { return size(); }
  String const& getTextName() const { return name_; }
  long nroViews() const { return views_; }
  void incViews() { ++views_; }
  void decViews() { --views_; }
  bool isActive() const { return active_; }
  bool isStored() const { return stored_; }
  TextType type() const { return type_; }
  // All lines and zones go.
  void delAll();
  bool isType(long bits) const { return (type_ & bits) != 0; }
  void changeType(TextType bit) { type_ ^= bit; }
  AttributeZones& zones() { return zones_; }
  OsFile& file() { return file_; }

  // The line with fill bytes put before each tab / with every fill byte removed.
  static String encodeTabs(String const& line);
  static String decodeTabs(String const& line);
  // Turns escape sequences into zones over line1,col1 .. line2,col2 (all -1:
  // the whole text).
  void encodeAttrs(long line1, long col1, long line2, long col2);
  // count characters of the cursor's line from its column (-1: to the end)
  // with escape sequences put back; prevAttrib carries the attribute in force.
  String decodeAttrs(TextCursor const& at, int32_t& prevAttrib, long count);
  // Adds / removes bits over from..to through the zones; modif is set when
  // they changed, unless the bits are the display mark.
  bool setAttr(TextCursor const& from, TextCursor const& to, int32_t bits);
  bool delAttr(TextCursor const& from, TextCursor const& to, int32_t bits);
  int32_t getAttr(TextCursor const& at, long& lastCol) { return zones_.getAttribute(at, lastCol); }
  // The bits of the escape sequence at seq (its escape byte), or -1 when it
  // is not understood; length counts the bytes of the sequence or examined.
  static int32_t sequenceToAttrib(char const* seq, long& length);
  // The sequence that sets bits; null for no bits.
  static String attribToSequence(int32_t bits);

protected:
  // Appends a line read from a file or pipe after laying its tabs out; a
  // line that would pass the String limit is cut with a warning naming the
  // source and line number.
  void addRead(std::string const& raw, long lineNo);
  // Reads every line of the stream (see addRead).
  void readLines(InputStream& in);

  TextType type_;
  bool active_;
  String name_;
  bool stored_;
  int32_t reserved_;
  OsFile file_;
  AttributeZones zones_;
  int32_t views_;

private:
  // encodeAttrs over the whole text.
  void encodeWholeText();
  static long tabSize_;
};

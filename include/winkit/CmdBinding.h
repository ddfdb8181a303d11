// CmdBinding: a map from key codes to command ids.
//
// Key codes are the toolkit's event codes: a byte from the terminal layer, a
// prefix byte (154 or 155) << 8 | the next byte, or 0x8000 | a command id for
// menu items. Only the low 16 bits of a key count: keys that differ above
// bit 15 are the same key. Negative ids are pseudo ids that the frame's key
// loop interprets: -2 prefix, -3 open the menu bar, -4 leave, -5 help mode;
// -1 is the answer for an unbound key and is never stored.
#pragma once

#include <zfound/HashTab.h>
#include <zfound/String.h>

// A node of the key table: key and value after the chain link.
struct IntIntN : HashNode {
  long key;
  long value;
  IntIntN(long k, long v) : key(k), value(v) {}
};

// A hash table of IntIntN nodes, keys compared and hashed on their low 16
// bits taken as unsigned.
class IntIntHashTab : public BaseHashTab {
public:
  explicit IntIntHashTab(long sizeHint);
  // Stores the pair (an equal key's node is replaced); the stored value.
  long add(long const& key, long const& value);
  // Removes the key; 0 when done, non-zero when it was not there.
  long del(long const& key);
  // The value of the key, or null.
  long* find(long const& key) const;
};

class CmdBinding {
public:
  CmdBinding();
  ~CmdBinding();
  CmdBinding(CmdBinding const&) = delete;
  CmdBinding& operator=(CmdBinding const&) = delete;

  // Binds `key` to `id`; a bound key gets the new id.
  void bind(long key, long id);
  // The id bound to `key`, or -1.
  long getCmdId(long key) const;
  // Binds prefix 155 with the title's first letter, in either case, to -3.
  void bindMenu(String const& title);

private:
  IntIntHashTab* table;
};

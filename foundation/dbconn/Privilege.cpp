// Privilege lists: entries for users, groups and everyone with their
// privilege and grant bits, the access test and the Connection form.
//
// The everyone entry sits in slot 0 whenever another entry exists; ids are
// compared at full width so that an id too wide for an entry is neither
// matched by one nor taken for the super-user.
#include <zfound/Privilege.h>

#include <cstdio>

#include <zfound/Connection.h>
#include <zfound/Format.h>

Privilege::Privilege() : perms(0, 8) {}

Privilege::Privilege(Privilege const& p) : perms(0, 8) { *this = p; }

Privilege::~Privilege() { clear(); }

void Privilege::clear() {
  for (long i = 0; i < perms.dim(); ++i) delete perms.at(i);
  perms.reAlloc(0);
}

void Privilege::add(uint16_t id, uint16_t idtype, uint16_t priv) {
  uint16_t type = uint16_t(idtype & 3u);
  if (type != PrivPerm::EVERYONE && (perms.dim() == 0 || perms.at(0) == nullptr)) {
    PrivPerm* everyone = new PrivPerm(PrivPerm::kEveryoneId, PrivPerm::EVERYONE, 0);
    if (perms.dim() == 0) {
      perms.add(everyone);
    } else {
      perms[0] = everyone;
    }
  }
  long at = perms.dim();
  if (!perms.reAlloc(at + 1)) return;
  perms[at] = new PrivPerm(id, type, priv);
}

bool Privilege::allowed(int32_t owner, int32_t user, int32_t group, int32_t mask) const {
  if (user == 0) return true;
  if (user > 0 && user == owner) return true;
  if (perms.dim() == 0) return false;
  for (long i = 1; i < perms.dim(); ++i) {
    PrivPerm const* p = perms.at(i);
    if (p == nullptr) continue;
    bool names = (p->idType() == PrivPerm::USER && int32_t(p->id()) == user) ||
                 (p->idType() == PrivPerm::GROUP && int32_t(p->id()) == group);
    if (names && (int32_t(p->priv()) & mask) != 0) return true;
  }
  PrivPerm const* all = perms.at(0);
  return all != nullptr && (int32_t(all->priv()) & mask) != 0;
}

bool Privilege::canGrant(int32_t owner, int32_t user, int32_t group, int32_t mask) const {
  return allowed(owner, user, group, int32_t(uint32_t(mask) << PrivPerm::kGrantShift));
}

int32_t Privilege::size() const { return int32_t(perms.dim()); }

bool Privilege::elem(int32_t n, uint16_t& id, uint16_t& idtype, uint16_t& priv) const {
  if (!perms.isValid(n)) return false;
  PrivPerm const* p = perms.at(n);
  id = p->id();
  idtype = p->idType();
  priv = p->priv();
  return true;
}

Privilege& Privilege::operator=(Privilege const& p) {
  if (&p == this) return *this;
  clear();
  for (long i = 0; i < p.perms.dim(); ++i) {
    PrivPerm const* e = p.perms.at(i);
    if (e != nullptr) add(e->id(), e->idType(), e->priv());
  }
  return *this;
}

void Privilege::print() const {
  for (long i = 0; i < perms.dim(); ++i) {
    PrivPerm const* p = perms.at(i);
    if (p == nullptr) continue;
    zfFprintf(stderr, "id %ld, idtype %ld, priv %ld\n", int32_t(p->id()), int32_t(p->idType()),
              int32_t(p->priv()));
  }
}

Connection& operator<<(Connection& c, Privilege const& p) {
  c << p.size();
  for (int32_t i = 0; i < p.size(); ++i) {
    uint16_t id = 0, type = 0, priv = 0;
    p.elem(i, id, type, priv);
    c << int32_t(id) << int32_t(type) << int32_t(priv);
  }
  return c;
}

Connection& operator>>(Connection& c, Privilege& p) {
  p.clear();
  int32_t n = 0;
  c >> n;
  if (n < 0 || n > Privilege::kMaxWireEntries) {
    c.setBad();
    return c;
  }
  for (int32_t i = 0; i < n; ++i) {
    int32_t id = 0, type = 0, priv = 0;
    c >> id >> type >> priv;
    if (c.bad() || id < 0 || id > 0xFFFF || type < 0 || type > 0xFFFF || priv < 0 || priv > 0xFFFF) {
      p.clear();
      c.setBad();
      return c;
    }
    p.add(uint16_t(id), uint16_t(type), uint16_t(priv));
  }
  return c;
}

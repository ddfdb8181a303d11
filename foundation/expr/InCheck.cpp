// Field input checks: construction, owned values, accessors and the form on
// a Connection.
//
// A check owns every value in its two arrays. Counts that arrive on a
// Connection are capped before any slot is made, so a hostile peer cannot
// make the receiver allocate without bound or read values that never came.
#include <zfound/Assert.h>
#include <zfound/Connection.h>
#include <zfound/InCheck.h>

InCheck::InCheck() : keyVals(0, 8), dspVals(0, 8) {}

InCheck::InCheck(bool negation) : negation_(negation), keyVals(0, 8), dspVals(0, 8) {}

InCheck::InCheck(int32_t nKeys, int32_t nDisplay, bool negation)
    : negation_(negation), keyVals(nKeys < 0 ? 0 : nKeys, 8), dspVals(nDisplay < 0 ? 0 : nDisplay, 8) {}

InCheck::~InCheck() { clearValues(); }

void InCheck::clearValues() {
  for (long i = 0; i < keyVals.dim(); ++i) delete keyVals.at(i);
  for (long i = 0; i < dspVals.dim(); ++i) delete dspVals.at(i);
  keyVals.reAlloc(0);
  dspVals.reAlloc(0);
}

void InCheck::addKeyVal(AnyValue const& v) {
  long at = keyVals.dim();
  if (keyVals.reAlloc(at + 1)) keyVals[at] = new AnyValue(v);
}

void InCheck::addDspFld(AnyValue const& v) {
  long at = dspVals.dim();
  if (dspVals.reAlloc(at + 1)) dspVals[at] = new AnyValue(v);
}

void InCheck::setNValues(int32_t n) {
  if (n < 0) return;
  for (long i = n; i < keyVals.dim(); ++i) {
    delete keyVals.at(i);
    keyVals[i] = nullptr;
  }
  keyVals.reAlloc(n);
}

AnyValue* InCheck::keyValue(int32_t n) const {
  if (!ZF_ASSERT(keyVals.isInRange(n))) return nullptr;
  return keyVals.at(n);
}

AnyValue* InCheck::dspField(int32_t n) const {
  if (!ZF_ASSERT(dspVals.isInRange(n))) return nullptr;
  return dspVals.at(n);
}

int32_t InCheck::receive(Connection& c) {
  int32_t kind = NOCHECK;
  c >> kind;
  return kind;
}

void InCheck::sendEmpty(Connection& c) { c << int32_t(NOCHECK); }

void InCheck::send(Connection& c) const {
  if (getType() == NOCHECK) {
    sendEmpty(c);
    return;
  }
  c << getType();
  sendBody(c);
}

void InCheck::sendBody(Connection& c) const {
  c << int32_t(negation() ? 1 : 0) << nKeyValues() << nDspFields();
  AnyValue const none;
  for (long i = 0; i < keyVals.dim(); ++i) c << (keyVals.at(i) != nullptr ? *keyVals.at(i) : none);
  for (long i = 0; i < dspVals.dim(); ++i) c << (dspVals.at(i) != nullptr ? *dspVals.at(i) : none);
}

bool InCheck::receiveBody(Connection& c) {
  clearValues();
  negation_ = Boolean();
  int32_t neg = 0, k = 0, d = 0;
  c >> neg >> k >> d;
  if (c.bad() || k < 0 || k > kMaxWireValues || d < 0 || d > kMaxWireValues) {
    c.setBad();
    return false;
  }
  keyVals.reAlloc(k);
  dspVals.reAlloc(d);
  for (int32_t i = 0; i < k && !c.bad(); ++i) {
    AnyValue v;
    c >> v;
    keyVals[i] = new AnyValue(v);
  }
  for (int32_t i = 0; i < d && !c.bad(); ++i) {
    AnyValue v;
    c >> v;
    dspVals[i] = new AnyValue(v);
  }
  if (c.bad()) {
    clearValues();
    return false;
  }
  negation_ = Boolean(neg != 0);
  return true;
}

Integrity::Integrity() : InCheck() {}

Integrity::Integrity(bool negation, ObjectId const& index) : InCheck(negation), index_(index) {}

Integrity::Integrity(ObjectId const& index, int32_t nKeys, int32_t nDisplay, bool negation)
    : InCheck(nKeys, nDisplay, negation), index_(index) {}

Integrity::Integrity(Connection& c) : InCheck() {
  if (!receiveBody(c)) return;
  c >> index_;
  if (c.bad()) {
    clearValues();
    negation_ = Boolean();
    index_ = ObjectId();
  }
}

void Integrity::send(Connection& c) const {
  InCheck::send(c);
  c << index_;
}

InList::InList() : InCheck() {}

InList::InList(bool negation) : InCheck(negation) {}

InList::InList(int32_t nKeys, int32_t nDisplay, bool negation) : InCheck(nKeys, nDisplay, negation) {}

InList::InList(Connection& c) : InCheck() { receiveBody(c); }

int32_t InList::maxDspLen() const {
  int32_t longest = 0;
  for (long i = 0; i < dspVals.dim(); ++i) {
    AnyValue const* v = dspVals.at(i);
    if (v == nullptr || v->isNull()) continue;
    String text = toString(*v);
    int32_t n = text.isHighest() ? 2147483647 : int32_t(text.length());
    if (n > longest) longest = n;
  }
  return longest;
}

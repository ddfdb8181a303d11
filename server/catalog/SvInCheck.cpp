// The server's input checks on the wire and their catalog value texts.
#include <svcatalog/SvInCheck.h>

#include <zfound/Connection.h>

#include "FieldWire.h"

void sendConvertedSv(InCheck const& check, Connection& c) {
  c << int32_t(check.getType());
  c << int32_t(check.negation() ? 1 : 0);
  c << int32_t(check.nKeyValues());
  c << int32_t(check.nDspFields());
  for (int32_t i = 0; i < check.nKeyValues(); ++i) {
    AnyValue* v = check.keyValue(i);
    c << (v != nullptr ? *v : AnyValue());
  }
  for (int32_t i = 0; i < check.nDspFields(); ++i) {
    AnyValue* v = check.dspField(i);
    c << (v != nullptr ? *v : AnyValue());
  }
}

void sendInCheck(InCheck const* check, Connection& c) {
  if (check == nullptr || check->getType() == InCheck::NOCHECK)
    InCheck::sendEmpty(c);
  else
    check->send(c);
}

void SvIntegrity::send(Connection& c) const {
  if (getType() == NOCHECK) {
    sendEmpty(c);
    return;
  }
  sendConvertedSv(*this, c);
  c << const_cast<SvIntegrity*>(this)->index();
}

void SvInList::send(Connection& c) const {
  if (getType() == NOCHECK) {
    sendEmpty(c);
    return;
  }
  sendConvertedSv(*this, c);
}

String integrValueText(AnyValue const& v) {
  AnyValue const& d = v.deref();
  if (d.getType() == AnyValue::T_OBJID) {
    String t(1L, kObjIdValueMark);
    t += svcatalog::decimal(d.x());
    t += ",";
    t += svcatalog::decimal(d.y());
    return t;
  }
  return toString(d);
}

AnyValue integrValue(String const& text) {
  if (text.length() > 1 && !text.isHighest() && text[0] == kObjIdValueMark) {
    // "<" and ">" around the two numbers make the shape of an id list.
    String list("<");
    list += String(toCharPtr(text) + 1, text.length() - 1);
    list += ">";
    int32_t w[2];
    if (svcatalog::parseIdList(list, w, 2)) return AnyValue(ObjectId(uint32_t(w[0]), uint32_t(w[1])));
  }
  return AnyValue(text);
}

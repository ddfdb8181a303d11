// Fuzz target: the server's request dispatch. An in-process server (one
// schema "fz" with table "T" (id int, name string 10, vals int[4]), a
// primary and a unique index and a few records) takes each input as parts
// from four clients, received and dispatched by its own main loop over
// simulated queues; the reply sink checks every reply (ServerFuzz.h). The
// clients carry an idle child's pid and are dropped after each input with
// their locks, objects and transactions; the server is made afresh every
// kRebuild inputs, so what inputs changed in the records does not pile up.
//
// Input: steps, each
//   byte c     bits 0-1 client slot, bit 2 the Connect type (pid | flag),
//              bit 3 continuation queue, bit 4 raw part, bit 5 MSG_CONT
//   raw:       u16 n (mod 1025) then n bytes: the part as sent
//   otherwise: byte o (object: 0 server, 1 schema, 2 table, 3 the slot's
//              last result, 4 the slot's result before it, else a u32
//              that follows), byte op (signed), byte n (mod 254), n u32
//              body words (big-endian in the input)
// A slot's type is its client id + 1 once a Connect of it was answered,
// else an id no client has.
#include "FuzzSupport.h"
#include "ServerFuzz.h"

#include <zfound/MsgHeader.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <unistd.h>

namespace {

constexpr uint32_t kServerObject = 0x70000000u;
constexpr int kRebuild = 500;
constexpr int kMaxSteps = 96;

zffuzz::FuzzServer server;
int inputs = 0;
uint32_t schemaId = 0, tableId = 0;

struct Slot {
  int32_t id = -1;
  uint32_t last = 0, before = 0;
};
Slot slots[4];
std::deque<int> connecting;  // slots whose Connect awaits its reply


long connectType() { return zffuzz::FuzzServer::connectType(); }

// The server with its schema, table, indexes and records.
void build() {
  if (server.running()) server.stop();
  server.onReply = nullptr;
  server.resolve = nullptr;
  server.start();
  server.makeSchema();
  schemaId = server.schemaId();
  tableId = server.tableId();
  zffuzz::idleChild();

  server.resolve = [](zffuzz::FuzzServer::Part& p) {
    int const c = p.tag & 0xff;
    int const slot = c & 3;
    p.type = (c & 4) ? connectType() : long(slots[slot].id) + 1;
    if (p.type <= 0) p.type = 1000 + slot;
    if (c & 4) connecting.push_back(slot);
    if (c & 16) return;  // raw: the bytes as given
    s_MsgBuff h = s_MsgBuff::read(p.bytes.data());
    h.clientId = int32_t(p.type);
    int const o = (p.tag >> 8) & 0xff;
    if (o == 3) h.objId = int32_t(slots[slot].last);
    if (o == 4) h.objId = int32_t(slots[slot].before);
    h.write(p.bytes.data());
  };
  server.onReply = [](zffuzz::FuzzServer::Reply const& r) {
    int slot = -1;
    if (r.type == connectType()) {
      if (connecting.empty()) return;
      slot = connecting.front();
      connecting.pop_front();
      if (r.status == 0) slots[slot].id = r.result;
    } else {
      for (int s = 0; s < 4; ++s)
        if (long(slots[s].id) + 1 == r.type) slot = s;
    }
    if (slot < 0) return;
    slots[slot].before = slots[slot].last;
    slots[slot].last = uint32_t(r.result);
  };
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  zffuzz::init();
  if (!server.running() || inputs++ % kRebuild == 0) build();
  zffuzz::idleChild();
  for (Slot& s : slots) s = Slot();
  connecting.clear();

  zffuzz::Input in(data, size);
  for (int step = 0; step < kMaxSteps && !in.empty(); ++step) {
    uint8_t const c = in.u8();
    zffuzz::FuzzServer::Part p;
    int const queue = (c & 8) ? 1 : 0;
    int o = 0;
    if (c & 16) {
      size_t n = in.u16() % (MSG_PART_BYTES + 1);
      for (size_t k = 0; k < n && !in.empty(); ++k) p.bytes.push_back(in.u8());
    } else {
      o = in.u8();
      uint32_t obj = 0;
      switch (o % 8) {
      case 0: obj = kServerObject; break;
      case 1: obj = schemaId; break;
      case 2: obj = tableId; break;
      case 3: case 4: break;  // resolved when it is received
      default: obj = in.u32(); break;
      }
      int32_t const op = int8_t(in.u8());
      size_t const n = in.u8() % (MSG_PART_WORDS + 1);
      std::vector<uint32_t> body;
      for (size_t k = 0; k < n && !in.empty(); ++k) body.push_back(in.u32());
      p = zffuzz::FuzzServer::part(0, obj, op, body, (c & 32) != 0);
      o %= 8;
    }
    p.tag = c | (o << 8);
    server.push(queue, p);
  }
  bool const ok = zffuzz::guarded([] { server.run(); });
  if (!ok) {
    // A fatal report while serving requests: a client could end the server.
    std::fprintf(stderr, "zffuzz: fatal report while serving requests\n");
    std::abort();
  }
  server.dropClients();
  server.takeReplies();
  return 0;
}

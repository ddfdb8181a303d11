// TableEnv: the installed pieces of the server above the tables, none until
// the server installs them.
#include <svcatalog/TableEnv.h>

namespace svcatalog {

TableJournal* TableEnv::journal = nullptr;
bool TableEnv::logDisable = false;
TableTransactions* TableEnv::transactions = nullptr;
RecordLocks* TableEnv::locks = nullptr;
TableObjects* TableEnv::objects = nullptr;

bool TableEnv::inTrans(Client const* c) { return transactions != nullptr && c != nullptr && transactions->inTrans(c); }

bool TableEnv::hasOptimisticTrans(Client const* c) {
  return transactions != nullptr && c != nullptr && transactions->hasOptimisticTrans(c);
}

TimeStamp TableEnv::transStamp(Client const* c) {
  return transactions != nullptr && c != nullptr ? transactions->transStamp(c) : TimeStamp();
}

void TableEnv::reset() {
  journal = nullptr;
  logDisable = false;
  transactions = nullptr;
  locks = nullptr;
  objects = nullptr;
}

}  // namespace svcatalog

// TableEnv: the installed pieces of the server above the tables, none until
// the server installs them.
#include <svcatalog/TableEnv.h>

namespace svcatalog {

TableJournal* TableEnv::journal = nullptr;
bool TableEnv::logDisable = false;
TableObjects* TableEnv::objects = nullptr;

void TableEnv::reset() {
  journal = nullptr;
  logDisable = false;
  objects = nullptr;
}

}  // namespace svcatalog

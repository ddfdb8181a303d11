// Shared set-up of the schema tests and of schemadrive: the storage statics,
// a disk layout whose two packed entries put a schema's files in
// <db>/<schema>, the page cache, and the checkpoint as the server takes it.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

#include <blkfile/BlockedFile.h>
#include <blkfile/CacheBuffer.h>
#include <blkfile/StorageEnv.h>
#include <sindex/SvIndex.h>
#include <svcatalog/CatalogEnv.h>
#include <svcatalog/SvSchema.h>
#include <svcatalog/TableEnv.h>
#include <zfound/Exception.h>
#include <zfound/OsFile.h>
#include <zfound/PhysLayout.h>

namespace catalogtest {

using svstore::StorageEnv;

class SchemaEnv {
public:
  // Storage statics at their start, parity 0, a 1 KB page and a cache of
  // cacheKb; the layout file written under dir.
  // layoutText: the layout file's lines (none by default: each schema made
  // adds its two packed entries).
  explicit SchemaEnv(std::string const& dir, std::string const& layoutText = "", int32_t cacheKb = 512)
      : dir_(dir) {
    CacheBuffer::cleanUp();
    StorageEnv::reset();
    svcatalog::CatalogEnv::reset();
    svcatalog::TableEnv::reset();
    StorageEnv::cachePageSize_sd = 1024;
    StorageEnv::currCP = 0;
    StorageEnv::timeStamp.setNow();
    StorageEnv::lastChkPoint = StorageEnv::timeStamp;
    ++StorageEnv::timeStamp;
    ::mkdir(db().c_str(), 0777);
    std::string const path = dir_ + "/layout";
    if (FILE* f = std::fopen(path.c_str(), "w")) {
      std::fputs(layoutText.c_str(), f);
      std::fclose(f);
    }
    layout_ = std::make_unique<PhysLayout>(String(path.c_str()));
    StorageEnv::physLayout_sd = layout_.get();
    CacheBuffer::init(cacheKb);
    svcatalog::CatalogHooks h;
    if (!layoutText.empty()) return;
    h.addSchema = [](String const& d, String const& name, int32_t) {
      PhysLayout* l = StorageEnv::physLayout_sd;
      l->addPackedEntry(name + ".$*", d, name);
      l->addPackedEntry(name + ".*", d, name);
      return true;
    };
    svcatalog::CatalogEnv::setHooks(h);
  }
  ~SchemaEnv() {
    closeAll();
    CacheBuffer::cleanUp();
    StorageEnv::physLayout_sd = nullptr;
    StorageEnv::reset();
    svcatalog::CatalogEnv::reset();
  }

  std::string db() const { return dir_ + "/db"; }

  // The layout entries of a schema that exists on disk (server start).
  void addLayout(String const& name) {
    layout_->addPackedEntry(name + ".$*", String(db().c_str()), name);
    layout_->addPackedEntry(name + ".*", String(db().c_str()), name);
  }

  // Index roots and headers of the current parity, every dirty page
  // written and synced, the parity flipped.
  static void checkpoint() {
    SvIndex::updateAllHeaders(Time());
    BlockedFile::writeAllHeaders(TimeStamp());
    CacheBuffer::flushAll(nullptr, false);
    OsFile::syncAllCache();
    ++StorageEnv::timeStamp;
    StorageEnv::lastChkPoint = StorageEnv::timeStamp;
    StorageEnv::currCP = 1 - StorageEnv::currCP;
    ++StorageEnv::timeStamp;
  }

  // Destroys every open schema (the server's end).
  static void closeAll() {
    while (SvSchema::first() != nullptr) delete SvSchema::first();
  }

private:
  std::string dir_;
  std::unique_ptr<PhysLayout> layout_;
};

}  // namespace catalogtest

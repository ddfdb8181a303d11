// The server core's side of the schemas: the catalog's hooks into the
// server (schema ids, configuration and disk layout, deferred removals,
// the server name) and the removal of stray files from the directories of
// every open schema.
#pragma once

class SvSchema;

namespace svcore {

// Installs the server's answers to the catalog's questions.
void installCatalogHooks();
// Stray files of one schema: reported, and removed only when the schema
// has tables of its own and its catalog read back whole.
void unlinkUnUsedFiles(SvSchema* s);
// The same for every open schema, in the order of the schema list.
void unlinkUnUsedFiles();

}  // namespace svcore

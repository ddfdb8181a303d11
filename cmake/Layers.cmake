# The layer table: every source directory of the tree, the layer it belongs
# to, and what each layer may include. The build (include directories of each
# target) and the layer check (CTest case arch.layers, cmake/LayerCheck.cmake)
# both read this one file; a new directory joins by one zf_layer_dir line.
#
#   zf_layer(NAME [BELOW layer...])
#       A layer. Its files may include the headers of their own layer and of
#       every layer reachable through BELOW (the order is transitive).
#   zf_layer_dir(DIR LAYER [HEADERS tree...])
#       The sources under DIR (recursively) belong to LAYER. HEADERS names the
#       header trees include/<tree> the directory provides. Within a tree a
#       header belongs to the directory holding the source of the same stem
#       (include/zfound/OsFile.h -> foundation/osfile/OsFile.cpp); a header
#       without such a source belongs to the tree's directory, or to the layer
#       zf_layer_header gives it.
#   zf_layer_header(TREE/NAME.h LAYER)
#       A header placed explicitly: a declaration-only hook that a lower layer
#       calls and a higher one implements, or a header without a source.
#
# A directory that is listed but does not exist yet is skipped; a directory
# that holds sources but is not listed fails the check, so it gets its line.
# cmake/LayerExceptions.txt lists known upward includes, each with its
# reason (it is empty); the check fails on any other one.

# The foundation, bottom to top.
zf_layer(chars)                          # character classes and containers
zf_layer(values  BELOW chars)            # value types
zf_layer(io      BELOW values)           # streams, files and stored forms
zf_layer(report  BELOW io)               # reporting and catalogues
zf_layer(system  BELOW report)           # start-up, options and OS services
zf_layer(client  BELOW system)           # error objects, expressions, client protocol

# Above the foundation.
zf_layer(object  BELOW client)           # server objects and clients
zf_layer(storage BELOW object)           # blocked files, page cache, indexes
zf_layer(catalog BELOW storage)          # schemas, tables, fields
zf_layer(server  BELOW catalog)          # the server program
zf_layer(zeph    BELOW client)           # our own run-time layer
zf_layer(dbm     BELOW zeph)             # the two database libraries
zf_layer(window  BELOW zeph)             # the toolkit, bottom to top
zf_layer(winobj  BELOW window)
zf_layer(views   BELOW winobj)
zf_layer(winapp  BELOW views)
zf_layer(wincmd  BELOW winapp)
zf_layer(tools   BELOW client)           # programs on the foundation alone
zf_layer(harness BELOW server dbm wincmd tools)  # benchmarks, fuzz targets, toolkit samples

zf_layer_dir(foundation/basic    chars  HEADERS zfound)
zf_layer_dir(foundation/alloc    chars  HEADERS zfound)
zf_layer_dir(foundation/array    chars  HEADERS zfound)
zf_layer_dir(foundation/hash     chars  HEADERS zfound)
zf_layer_dir(foundation/bits     chars  HEADERS zfound)
zf_layer_dir(foundation/itypes   values HEADERS zfound)
zf_layer_dir(foundation/stream   io     HEADERS zfound)
zf_layer_dir(foundation/stored   io     HEADERS zfound)
zf_layer_dir(foundation/conn     io     HEADERS zfound)
zf_layer_dir(foundation/regexp   io     HEADERS zfound)
zf_layer_dir(foundation/osfile   io     HEADERS zfound)
zf_layer_dir(foundation/report   report HEADERS zfound)
zf_layer_dir(foundation/msgtable report HEADERS zfound)
zf_layer_dir(foundation/misc     system HEADERS zfound)
zf_layer_dir(foundation/oparser  system HEADERS zfound)
zf_layer_dir(foundation/osserv   system HEADERS zfound)
zf_layer_dir(foundation/users    system HEADERS zfound)
zf_layer_dir(foundation/collset  system HEADERS zfound)
zf_layer_dir(foundation/syslog   system HEADERS zfound)
zf_layer_dir(foundation/dbrowser system HEADERS zfound)
zf_layer_dir(foundation/except   client HEADERS zfound)
zf_layer_dir(foundation/expr     client HEADERS zfound)
zf_layer_dir(foundation/dbconn   client HEADERS zfound)

zf_layer_dir(server/object       object  HEADERS svobject)
zf_layer_dir(server/storage      storage HEADERS blkfile sindex)
zf_layer_dir(server/catalog      catalog HEADERS svcatalog)
zf_layer_dir(server/core         server  HEADERS svcore)
zf_layer_dir(zeph                zeph    HEADERS zeph)
zf_layer_dir(dbm/omdb            dbm     HEADERS dbm)
zf_layer_dir(dbm/zxdb            dbm     HEADERS dbm)
zf_layer_dir(window              window  HEADERS winkit)
zf_layer_dir(winobj              winobj  HEADERS winkit)
zf_layer_dir(views               views   HEADERS winkit)
zf_layer_dir(winapp              winapp  HEADERS winkit)
zf_layer_dir(wincmd              wincmd  HEADERS winkit)
zf_layer_dir(msgcat              tools   HEADERS msgcat)
zf_layer_dir(relay               tools)
zf_layer_dir(samples/zsample     tools)
zf_layer_dir(samples/textrt      harness)
zf_layer_dir(samples/wintest     harness)
zf_layer_dir(samples/widgetdemo  harness)
zf_layer_dir(samples/viewdemo    harness)
zf_layer_dir(samples/winedit     harness)
zf_layer_dir(samples/omdbdemo    harness)
zf_layer_dir(bench               harness)
zf_layer_dir(fuzz                harness)

# Declaration-only hooks: the lower layers report through these; the report
# layer implements them.
zf_layer_header(zfound/Assert.h      chars)
# The one database interface, declared below the run-time layer that calls
# it and implemented by the two database libraries.
zf_layer_header(dbm/DbInterface.h    zeph)
zf_layer_header(dbm/DbDescr.h        zeph)
# Headers without a source of their own stem.
zf_layer_header(winkit/BaseAction.h  winobj)
# The command registry and bases: the frame's key loop (winapp) runs the
# commands that wincmd implements.
zf_layer_header(winkit/WinCmd.h      winapp)
zf_layer_header(zfound/AppMain.h     system)
zf_layer_header(zfound/StartArgs.h   system)
zf_layer_header(zfound/ClientObject.h client)
zf_layer_header(zfound/ExceptionCodes.h client)
zf_layer_header(zfound/BuildInfo.h   system)
# The report calls, process services, national date settings and clock that
# the layers below the reports and the system layer use: declared with the
# value types, implemented by the report and system layers.
zf_layer_header(zfound/Report.h       values)
zf_layer_header(zfound/ProcessHooks.h values)
zf_layer_header(zfound/DateSettings.h values)
# The printf family is declared with the value types, whose text forms use
# it, and implemented by the system layer, which holds the national settings
# it reads.
zf_layer_header(zfound/Format.h      values)

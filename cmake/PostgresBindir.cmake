# ZEMLINK_PG_BINDIR: the folder of initdb and postgres of the newest
# PostgreSQL server installed from Debian's packages; empty when none is.
# Tests and benchmarks start a server of their own with them.
file(GLOB pg_initdb_programs /usr/lib/postgresql/*/bin/initdb)
list(SORT pg_initdb_programs COMPARE NATURAL)
set(ZEMLINK_PG_BINDIR "")
if(pg_initdb_programs)
  list(GET pg_initdb_programs -1 pg_initdb)
  get_filename_component(ZEMLINK_PG_BINDIR ${pg_initdb} DIRECTORY)
endif()

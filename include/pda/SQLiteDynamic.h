#pragma once

#include "pda/Export.h"

// SQLite is loaded at run time; its types stay opaque here.
struct sqlite3;
struct sqlite3_stmt;
struct sqlite3_vfs;

// The run-time binding to the SQLite library: loaded by path, its entry
// points looked up by name. A missing entry point is replaced by a stub that
// ignores its arguments and returns the stub result of its slot.
class PDA_API SQLiteDynamic {
 public:
  typedef int (*close_v2_fn)(sqlite3*);
  typedef int (*column_count_fn)(sqlite3_stmt*);
  typedef int (*column_int_fn)(sqlite3_stmt*, int);
  typedef const unsigned char* (*column_text_fn)(sqlite3_stmt*, int);
  typedef int (*column_type_fn)(sqlite3_stmt*, int);
  typedef int (*errcode_fn)(sqlite3*);
  typedef const char* (*errmsg_fn)(sqlite3*);
  typedef const char* (*errstr_fn)(int);
  typedef int (*extended_errcode_fn)(sqlite3*);
  typedef int (*finalize_fn)(sqlite3_stmt*);
  typedef int (*open_v2_fn)(const char*, sqlite3**, int, const char*);
  typedef int (*prepare_v2_fn)(sqlite3*, const char*, int, sqlite3_stmt**, const char**);
  typedef int (*step_fn)(sqlite3_stmt*);
  typedef int (*reset_fn)(sqlite3_stmt*);
  typedef int (*config_fn)(int, ...);
  typedef int (*initialize_fn)();
  typedef int (*shutdown_fn)();

  // Copies the path (at most 259 characters; a longer path loads nothing),
  // then loads the library and binds the seventeen entry points.
  explicit SQLiteDynamic(const char* dllPath);
  // Does not release the library: the owner does that first.
  ~SQLiteDynamic();

  SQLiteDynamic(const SQLiteDynamic&) = delete;
  SQLiteDynamic& operator=(const SQLiteDynamic&) = delete;

  void* _hModule;
  int _missingCount;
  char _dllPath[260];

  close_v2_fn sqlite3_close_v2;
  column_count_fn sqlite3_column_count;
  column_int_fn sqlite3_column_int;
  column_text_fn sqlite3_column_text;
  column_type_fn sqlite3_column_type;
  errcode_fn sqlite3_errcode;
  errmsg_fn sqlite3_errmsg;
  errstr_fn sqlite3_errstr;
  extended_errcode_fn sqlite3_extended_errcode;
  finalize_fn sqlite3_finalize;
  open_v2_fn sqlite3_open_v2;
  prepare_v2_fn sqlite3_prepare_v2;
  step_fn sqlite3_step;
  reset_fn sqlite3_reset;
  config_fn sqlite3_config;
  initialize_fn sqlite3_initialize;
  shutdown_fn sqlite3_shutdown;

  // Releases the loaded library (FreeLibrary) and puts every slot back to
  // its stub. Safe to call when nothing is loaded.
  void unload();

 private:
  void setDefaults();
};

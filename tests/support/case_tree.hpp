#pragma once
// A small case folder for the listing and walk tests, built once per test
// program in a scratch folder:
//
//   a.etl  A.ETL  b.etl.bak  trace.txt  tr*.etl  with blank.etl  bad<0xff>.etl
//   sub1/x.etl  sub1/deeper/y.etl  sub1/deeper/deepest/z.etl
//   sub2/logs/w.etl  empty/  */s.etl (a folder named "*")
//   link -> sub1 (a symbolic link to a folder)  loop -> . (a link to its own folder)
#include <string>

// The root of the tree, ending with '/'.
const std::string& case_tree_root();

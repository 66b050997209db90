// The program's version marks: empty procedures whose names the program file carries (nm -C
// shows them) to tell release and build.  Nothing calls them.
#pragma once

// The release mark is the constructor; each build defines the member that names it
// (builds/<program>.cpp), the build NETLOC none.
struct T4410K03_NETLOC402_20MAY2008 {
  T4410K03_NETLOC402_20MAY2008();
  static void T4410K03_NETLOC_C();
  static void T4410K03_NETLOC_PRIV();
  static void T4410K03_NETLOC_C_PRIV();
};

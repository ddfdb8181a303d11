// The library's default UserMain: a program that defines neither execute()
// nor its own UserMain is told which hook it lacks. A program's own UserMain
// replaces this one at link time (this unit is linked only when nothing else
// defines the symbol).
#include <zfound/CVApp.h>

#include <zfound/Message.h>

extern "C" int UserMain(int, char**) {
  error(String("You should specify one of the following methods:\n"
               "CVApp::mainObject(), CVApp::execute() or UserMain()\n"));
  return -1;
}

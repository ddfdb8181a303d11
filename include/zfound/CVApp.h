// The application base class of every program on the common entry, the
// argument parsing step of that entry, and FramedObject, which carries the
// hooks of a windowed front end and of a request-processing mode (neither
// exists here: those hooks answer that they are not available).
//
// Invariants: one CVApp object per process, owned by main. A FramedObject's
// remote id and main frame each change only from or to "none"; it is
// destroyed only when it holds neither.
#pragma once

#include <zfound/String.h>

#include <cstdint>

class OptionParser;
class RequestConnection;
class wxFrame;

class CVApp {
public:
  CVApp() = default;
  CVApp(CVApp const&) = default;
  CVApp& operator=(CVApp const&) = default;
  virtual ~CVApp();

  // The program's main object; the default has none. The start-up path never
  // calls it.
  virtual void* mainObject();
  // The program's work; its result is the process exit code. The default
  // calls UserMain(argCnt(), argRefVal()).
  virtual int32_t execute();

  // Hidden by a subclass that has options: the default has none.
  static OptionParser* cmdLine() { return nullptr; }
  // Hidden by a subclass that names itself: null lets main use argv[0].
  static String appName() { return String(); }
  // Hidden by a subclass that has a version.
  static String appVersion() { return String(); }
};

// The plain entry that the default execute() calls. The library's default
// makes a fatal report telling the programmer which hook to define and
// returns -1 (reached only when no fatal-error handler is installed). A
// program defines its own to replace it.
extern "C" int UserMain(int argc, char** argv);

// Runs the program's option parser, when it has one, over the arguments that
// startUp kept (so argCnt()/argVal() see what it consumed). Returns 0 at
// once for a program without options, else the parser's result.
int parseAppArgs();

// The hooks through which the foundation reaches the application class;
// ZF_APP_MAIN defines them for a program.
OptionParser* getAppCmdLine();
String getAppCompileData();
CVApp* createAppRootClass();

// True when the process runs as a client of the request-processing mode;
// nothing in this system sets it.
bool crackerClient();
extern "C" bool CrackerClient();

class FramedObject {
public:
  FramedObject();
  FramedObject(FramedObject const&) = default;
  FramedObject& operator=(FramedObject const&) = default;
  // Asserts that the object has left both roles.
  virtual ~FramedObject();

  // Windowed front end: not available here.
  virtual bool canUseWxWindows() const;
  virtual void wxWindowsCreate();
  virtual void wxWindowsDestroy();
  // Returns the "no result" code 0x80000000.
  virtual int32_t wxWindowsMainLoop();
  // Request-processing mode: not available here.
  virtual bool canUseCracker() const;
  virtual void crackerCreate(RequestConnection&);
  virtual void crackerDestroy(RequestConnection&);
  virtual void processRequest(RequestConnection&);

  // The remote counterpart's id; -1 when none.
  int32_t remoteId() const { return remoteId_; }
  // The object's main window; null when none.
  wxFrame* mainFrame() const { return mainFrame_; }
  // Sets the remote id; asserts that id is -1 or no id is held yet.
  void setRemoteId(int32_t id);
  // Sets the main frame; asserts that none is held yet or frame is null.
  void setMainFrame(wxFrame* frame);

private:
  int32_t remoteId_;
  wxFrame* mainFrame_;
};

// The application base class, the argument parsing step of the common entry
// and FramedObject, whose windowed and request-processing hooks answer that
// those modes are not available in this system.
#include <zfound/CVApp.h>

#include <zfound/Assert.h>
#include <zfound/Message.h>
#include <zfound/OptionParser.h>
#include <zfound/Process.h>

CVApp::~CVApp() = default;

void* CVApp::mainObject() { return nullptr; }

int32_t CVApp::execute() { return UserMain(argCnt(), argRefVal()); }

int parseAppArgs() {
  OptionParser* parser = getAppCmdLine();
  if (!parser) return 0;
  parser->compileData(getAppCompileData());
  return parser->parse(argRefCnt(), argRefVal());
}

bool crackerClient() { return procCrackerClient() != 0; }
extern "C" bool CrackerClient() { return crackerClient(); }

FramedObject::FramedObject() : remoteId_(-1), mainFrame_(nullptr) {}

FramedObject::~FramedObject() {
  ZF_ASSERT_TEXT(remoteId() == -1, "remoteId()==(-1)");
  ZF_ASSERT(!mainFrame());
}

bool FramedObject::canUseWxWindows() const { return false; }
void FramedObject::wxWindowsCreate() { ZF_ABNORMAL(); }
void FramedObject::wxWindowsDestroy() { ZF_ABNORMAL(); }
int32_t FramedObject::wxWindowsMainLoop() { return INT32_MIN; }
bool FramedObject::canUseCracker() const { return false; }
void FramedObject::crackerCreate(RequestConnection&) { ZF_ABNORMAL(); }
void FramedObject::crackerDestroy(RequestConnection&) { ZF_ABNORMAL(); }
void FramedObject::processRequest(RequestConnection&) { ZF_ABNORMAL(); }

void FramedObject::setRemoteId(int32_t id) {
  ZF_ASSERT_TEXT(id == -1 || remoteId() == -1, "id==(-1) || remoteId()==(-1)");
  remoteId_ = id;
}

void FramedObject::setMainFrame(wxFrame* frame) {
  ZF_ASSERT(!mainFrame() || !frame);
  mainFrame_ = frame;
}

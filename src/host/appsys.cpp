#include "host/appsys.h"

namespace nclaser {

TAppSystem* AppSys = nullptr;

void ShowMsg(const std::string& Text, TColor Color) {
  if (AppSys != nullptr) {
    AppSys->ShowMsg(Text, Color);
  }
}

void ShowMsgType(const std::string& Text, int MessageType) {
  if (AppSys != nullptr) {
    AppSys->ShowMsg(Text, MessageType, clBlack);
  }
}

void SetThreadName(const std::string& Name) {
  if (AppSys != nullptr) {
    AppSys->SetThreadName(Name);
  }
}

void OutputDebugString(const std::string& Text) {
  if (AppSys != nullptr) {
    AppSys->OutputDebugString(Text);
  }
}

} // namespace nclaser

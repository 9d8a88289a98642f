#include "strings/messages.h"

#include <array>

#include "host/appsys.h"

namespace nclaser {

TResourceString SIPGCommCommunicationException("IPG串口通讯异常");
TResourceString SIPGOverheat("过热");
TResourceString SIPGHighBackReflectionLevel("高反射异常");
TResourceString SIPGModuleDisconnected("激光模块连接失败");
TResourceString SIPGPulseTooShort("Pulse Too Short");
TResourceString SIPGPowerSupplyOff("主电源关闭");
TResourceString SIPGModulationDisabled("调制模式关");
TResourceString SIPGGateModeEnabled("Gate模式开");
TResourceString SIPGHighPulseEnergy("High Pulse Energy");
TResourceString SIPGPowerSupplyFailure("主电源故障");
TResourceString SIPGHighDutyCycle("High Duty Cycle");
TResourceString SIPGLowTemperature("温度低");
TResourceString SIPGPowerSupplyFailure2("主电源电压超范围");
TResourceString SIPGCriticalError("Critical Error模块已保护");
TResourceString SIPGOpticalInterlockactive("光路安全互锁开路");
TResourceString SIPGAveragePowertooHigh("平均功率太高");
TResourceString SLaser("激光器");
TResourceString SLaserType1("连续波");
TResourceString SLaserType2("门脉冲");
TResourceString SLaserType3("强脉冲");
TResourceString SLaserAlarm(" 激光器报警");
TResourceString SLaserConnectedOk("激光器串口/网络已连接成功.");
TResourceString SLaserConnectedFail("激光器串口/网络连接失败.");
TResourceString SYLSPowerSupplyOn("YLS电源启动与光闸使能");
TResourceString SYLSLaserNotReady("激光器未准备好");
TResourceString SYLSLaserNotInExternCtrl("激光器不处于外控模式");
TResourceString SYLSLaserInRobotMode("激光器处于ROBOT工作模式");
TResourceString SSetAccessLevel("设置访问级别");
TResourceString SAccessLevelResponse("访问级别回复");
TResourceString SYLSAnalyzeResponseErr("通讯数据转换异常");
TResourceString SYLSCmdErr("指令执行异常");
TResourceString STemperature1Err("温度1异常");
TResourceString STemperature2Err("温度2异常");
TResourceString STemperature3Err("温度3异常");
TResourceString STemperature4Err("温度4异常");
TResourceString SLaserOnStatus1Err("出光1状态异常");
TResourceString SLaserOnStatus2Err("出光2状态异常");
TResourceString SPowerStatus1Err("功率1状态异常");
TResourceString SPowerStatus2Err("功率2状态异常");
TResourceString SPowerPanelStatusErr("电源板状态异常");
TResourceString SCurrentPanelStatusErr("电流板状态异常");
TResourceString SLaserOnBtnStatusErr("出光按钮状态异常");
TResourceString SInterLockStatusErr("InterLock状态异常");
TResourceString SPulseWidthStatusErr("脉宽状态异常");
TResourceString SV101CurrentErr("驱动电流过流");
TResourceString SV101PanelDisConnectErr("前面板未连接");
TResourceString SV101InterLockErr("连锁锁死");
TResourceString SV101Err("故障");
TResourceString SV101Warning("报警");
TResourceString SV101ServerTimeOut("服务过期");
TResourceString SV102BreakLineErr("断线报警");
TResourceString SV102CondensationErr("凝露报警");
TResourceString SV102InterLockErr("连锁锁死");
TResourceString SV102Err("故障");
TResourceString SV102Warning("报警");
TResourceString SV102ServerTimeOut("服务过期");

namespace {

const std::array<TDeviceStr, 56> KDeviceStrs = {{
    {"SIPGCommCommunicationException", &SIPGCommCommunicationException, "IPG串口通讯异常"},
    {"SIPGOverheat", &SIPGOverheat, "过热"},
    {"SIPGHighBackReflectionLevel", &SIPGHighBackReflectionLevel, "高反射异常"},
    {"SIPGModuleDisconnected", &SIPGModuleDisconnected, "激光模块连接失败"},
    {"SIPGPulseTooShort", &SIPGPulseTooShort, "Pulse Too Short"},
    {"SIPGPowerSupplyOff", &SIPGPowerSupplyOff, "主电源关闭"},
    {"SIPGModulationDisabled", &SIPGModulationDisabled, "调制模式关"},
    {"SIPGGateModeEnabled", &SIPGGateModeEnabled, "Gate模式开"},
    {"SIPGHighPulseEnergy", &SIPGHighPulseEnergy, "High Pulse Energy"},
    {"SIPGPowerSupplyFailure", &SIPGPowerSupplyFailure, "主电源故障"},
    {"SIPGHighDutyCycle", &SIPGHighDutyCycle, "High Duty Cycle"},
    {"SIPGLowTemperature", &SIPGLowTemperature, "温度低"},
    {"SIPGPowerSupplyFailure2", &SIPGPowerSupplyFailure2, "主电源电压超范围"},
    {"SIPGCriticalError", &SIPGCriticalError, "Critical Error模块已保护"},
    {"SIPGOpticalInterlockactive", &SIPGOpticalInterlockactive, "光路安全互锁开路"},
    {"SIPGAveragePowertooHigh", &SIPGAveragePowertooHigh, "平均功率太高"},
    {"SLaser", &SLaser, "激光器"},
    {"SLaserType1", &SLaserType1, "连续波"},
    {"SLaserType2", &SLaserType2, "门脉冲"},
    {"SLaserType3", &SLaserType3, "强脉冲"},
    {"SLaserAlarm", &SLaserAlarm, " 激光器报警"},
    {"SLaserConnectedOk", &SLaserConnectedOk, "激光器串口/网络已连接成功."},
    {"SLaserConnectedFail", &SLaserConnectedFail, "激光器串口/网络连接失败."},
    {"SYLSPowerSupplyOn", &SYLSPowerSupplyOn, "YLS电源启动与光闸使能"},
    {"SYLSLaserNotReady", &SYLSLaserNotReady, "激光器未准备好"},
    {"SYLSLaserNotInExternCtrl", &SYLSLaserNotInExternCtrl, "激光器不处于外控模式"},
    {"SYLSLaserInRobotMode", &SYLSLaserInRobotMode, "激光器处于ROBOT工作模式"},
    {"SSetAccessLevel", &SSetAccessLevel, "设置访问级别"},
    {"SAccessLevelResponse", &SAccessLevelResponse, "访问级别回复"},
    {"SYLSAnalyzeResponseErr", &SYLSAnalyzeResponseErr, "通讯数据转换异常"},
    {"SYLSCmdErr", &SYLSCmdErr, "指令执行异常"},
    {"STemperature1Err", &STemperature1Err, "温度1异常"},
    {"STemperature2Err", &STemperature2Err, "温度2异常"},
    {"STemperature3Err", &STemperature3Err, "温度3异常"},
    {"STemperature4Err", &STemperature4Err, "温度4异常"},
    {"SLaserOnStatus1Err", &SLaserOnStatus1Err, "出光1状态异常"},
    {"SLaserOnStatus2Err", &SLaserOnStatus2Err, "出光2状态异常"},
    {"SPowerStatus1Err", &SPowerStatus1Err, "功率1状态异常"},
    {"SPowerStatus2Err", &SPowerStatus2Err, "功率2状态异常"},
    {"SPowerPanelStatusErr", &SPowerPanelStatusErr, "电源板状态异常"},
    {"SCurrentPanelStatusErr", &SCurrentPanelStatusErr, "电流板状态异常"},
    {"SLaserOnBtnStatusErr", &SLaserOnBtnStatusErr, "出光按钮状态异常"},
    {"SInterLockStatusErr", &SInterLockStatusErr, "InterLock状态异常"},
    {"SPulseWidthStatusErr", &SPulseWidthStatusErr, "脉宽状态异常"},
    {"SV101CurrentErr", &SV101CurrentErr, "驱动电流过流"},
    {"SV101PanelDisConnectErr", &SV101PanelDisConnectErr, "前面板未连接"},
    {"SV101InterLockErr", &SV101InterLockErr, "连锁锁死"},
    {"SV101Err", &SV101Err, "故障"},
    {"SV101Warning", &SV101Warning, "报警"},
    {"SV101ServerTimeOut", &SV101ServerTimeOut, "服务过期"},
    {"SV102BreakLineErr", &SV102BreakLineErr, "断线报警"},
    {"SV102CondensationErr", &SV102CondensationErr, "凝露报警"},
    {"SV102InterLockErr", &SV102InterLockErr, "连锁锁死"},
    {"SV102Err", &SV102Err, "故障"},
    {"SV102Warning", &SV102Warning, "报警"},
    {"SV102ServerTimeOut", &SV102ServerTimeOut, "服务过期"},
}};

const std::array<TResourceString*, 13> KRaycusState = {
    &STemperature1Err,     &STemperature2Err,       &STemperature3Err,     &STemperature4Err,
    &SLaserOnStatus1Err,   &SLaserOnStatus2Err,     &SPowerStatus1Err,     &SPowerStatus2Err,
    &SPowerPanelStatusErr, &SCurrentPanelStatusErr, &SLaserOnBtnStatusErr, &SInterLockStatusErr,
    &SPulseWidthStatusErr};

std::mutex GUnitLock;
int GUnitCount = 0;

} // namespace

std::span<const TDeviceStr> DeviceStrs() {
  return KDeviceStrs;
}

std::span<TResourceString* const> RaycusStateStrs() {
  return KRaycusState;
}

void LoadDeviceStrs() {
  TKdLocaleResource* Locale = AppSys != nullptr ? AppSys->GetLocale() : nullptr;
  if (Locale == nullptr || !Locale->GetLoaded()) {
    return;
  }
  for (const TDeviceStr& S : KDeviceStrs) {
    std::string Text = S.Str->Get();
    Locale->ReadStr("Device_Strs", S.Key, Text);
    S.Str->Set(std::move(Text));
  }
}

void InitializeDeviceStrs() {
  std::lock_guard<std::mutex> L(GUnitLock);
  if (GUnitCount++ == 0) {
    for (const TDeviceStr& S : KDeviceStrs) {
      S.Str->Set(S.Default);
    }
    if (AppSys != nullptr) {
      AppSys->RegisterLocaleProc(&LoadDeviceStrs);
    }
  }
}

void FinalizeDeviceStrs() {
  std::lock_guard<std::mutex> L(GUnitLock);
  if (GUnitCount > 0 && --GUnitCount == 0) {
    for (const TDeviceStr& S : KDeviceStrs) {
      S.Str->Set({});
    }
    if (AppSys != nullptr) {
      AppSys->UnregisterLocaleProc(&LoadDeviceStrs);
    }
  }
}

} // namespace nclaser

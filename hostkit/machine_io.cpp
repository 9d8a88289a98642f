#include "hostkit/machine_io.h"

#include <charconv>
#include <chrono>

#include "host/clock.h"

namespace nclaser::hostkit {

namespace {

// Up to 15 significant digits with a point, as the host's FloatToStr shows a value.
std::string Num(double V) {
  char Buf[64];
  const auto R = std::to_chars(Buf, Buf + sizeof(Buf), V, std::chars_format::general, 15);
  return std::string(Buf, R.ptr);
}

std::string Bit(double V) {
  return V != 0.0 ? "1" : "0";
}

} // namespace

std::string ToString(const TIoEvent& E) {
  const std::string Port = std::to_string(E.Port);
  switch (E.Kind) {
  case TIoKind::Output:
    return "out" + Port + "=" + Bit(E.Value);
  case TIoKind::Input:
    return "in" + Port + "=" + Bit(E.Value);
  case TIoKind::DA:
    return "da" + Port + "=" + Num(E.Value);
  case TIoKind::PwmOn:
    return "pwm_on=" + Bit(E.Value);
  case TIoKind::PwmFreq:
    return "pwm_freq=" + Num(E.Value);
  case TIoKind::PwmRatio:
    return "pwm_ratio=" + Num(E.Value);
  }
  return {};
}

class TMachineIO::TOut : public TNcOutputGroup {
public:
  explicit TOut(TMachineIO& IO) : FIO(IO) {}
  bool GetPortExist(Byte Port) override {
    std::lock_guard<std::mutex> L(FIO.FLock);
    return FIO.FOutExist[Port];
  }
  void SetOutputbit(Byte Port, bool Value) override {
    bool Changed = false;
    {
      std::lock_guard<std::mutex> L(FIO.FLock);
      Changed = FIO.FOut[Port] != Value;
      FIO.FOut[Port] = Value;
    }
    FIO.Record(TIoKind::Output, Port, Value ? 1.0 : 0.0, Changed);
  }
  bool GetOutputBit(Byte Port) override {
    std::lock_guard<std::mutex> L(FIO.FLock);
    return FIO.FOut[Port];
  }

private:
  TMachineIO& FIO;
};

class TMachineIO::TIn : public TNcInputGroup {
public:
  explicit TIn(TMachineIO& IO) : FIO(IO) {}
  bool GetPortExist(Byte Port) override {
    std::lock_guard<std::mutex> L(FIO.FLock);
    return FIO.FInExist[Port];
  }
  bool GetInputBit(Byte Port) override {
    std::lock_guard<std::mutex> L(FIO.FLock);
    FIO.FInRead.insert(Port);
    return FIO.FIn[Port];
  }

private:
  TMachineIO& FIO;
};

class TMachineIO::TDa : public TNcDAGroup {
public:
  explicit TDa(TMachineIO& IO) : FIO(IO) {}
  void SetDAValue(Byte Port, double Value) override {
    bool Changed = false;
    {
      std::lock_guard<std::mutex> L(FIO.FLock);
      Changed = FIO.FDa[Port] != Value;
      FIO.FDa[Port] = Value;
    }
    FIO.Record(TIoKind::DA, Port, Value, Changed);
  }

private:
  TMachineIO& FIO;
};

TMachineIO::TMachineIO()
    : FOutGroup(std::make_unique<TOut>(*this)), FInGroup(std::make_unique<TIn>(*this)),
      FDaGroup(std::make_unique<TDa>(*this)) {
  SetAllPortsExist();
}

TMachineIO::~TMachineIO() = default;

void TMachineIO::SetOutputsExist(const std::vector<int>& Ports) {
  std::lock_guard<std::mutex> L(FLock);
  FOutExist.fill(false);
  for (int P : Ports) {
    FOutExist[static_cast<size_t>(P & 0xFF)] = true;
  }
}

void TMachineIO::SetInputsExist(const std::vector<int>& Ports) {
  std::lock_guard<std::mutex> L(FLock);
  FInExist.fill(false);
  for (int P : Ports) {
    FInExist[static_cast<size_t>(P & 0xFF)] = true;
  }
}

void TMachineIO::SetAllPortsExist() {
  std::lock_guard<std::mutex> L(FLock);
  FOutExist.fill(true);
  FInExist.fill(true);
}

TNcOutputGroup& TMachineIO::Outputs() {
  return *FOutGroup;
}
TNcInputGroup& TMachineIO::Inputs() {
  return *FInGroup;
}
TNcDAGroup& TMachineIO::DA() {
  return *FDaGroup;
}

void TMachineIO::SetInput(int Port, bool Level) {
  bool Changed = false;
  {
    std::lock_guard<std::mutex> L(FLock);
    auto& In = FIn[static_cast<size_t>(Port & 0xFF)];
    Changed = In != Level;
    In = Level;
  }
  Record(TIoKind::Input, Port & 0xFF, Level ? 1.0 : 0.0, Changed);
}

bool TMachineIO::GetOutput(int Port) const {
  std::lock_guard<std::mutex> L(FLock);
  return FOut[static_cast<size_t>(Port & 0xFF)];
}

bool TMachineIO::GetInput(int Port) const {
  std::lock_guard<std::mutex> L(FLock);
  return FIn[static_cast<size_t>(Port & 0xFF)];
}

double TMachineIO::GetDA(int Port) const {
  std::lock_guard<std::mutex> L(FLock);
  return FDa[static_cast<size_t>(Port & 0xFF)];
}

std::set<int> TMachineIO::InputsRead() const {
  std::lock_guard<std::mutex> L(FLock);
  return FInRead;
}

std::vector<TIoEvent> TMachineIO::Timeline() const {
  std::lock_guard<std::mutex> L(FLock);
  return FTimeline;
}

void TMachineIO::ClearTimeline() {
  std::lock_guard<std::mutex> L(FLock);
  FTimeline.clear();
}

bool TMachineIO::WaitOutput(int Port, bool Level, int TimeoutMs) const {
  std::unique_lock<std::mutex> L(FLock);
  return FChanged.wait_for(L, std::chrono::milliseconds(TimeoutMs),
                           [&] { return FOut[static_cast<size_t>(Port & 0xFF)] == Level; });
}

void TMachineIO::SetListener(std::function<void(const TIoEvent&)> Listener) {
  std::lock_guard<std::mutex> L(FLock);
  FListener = std::move(Listener);
}

void TMachineIO::Record(TIoKind Kind, int Port, double Value, bool Changed) {
  const TIoEvent E{NowMs(), Kind, Port, Value, Changed};
  std::function<void(const TIoEvent&)> Listener;
  {
    std::lock_guard<std::mutex> L(FLock);
    FTimeline.push_back(E);
    Listener = FListener;
  }
  FChanged.notify_all();
  if (Listener) {
    Listener(E);
  }
}

TVirtualPwmPort::TChannel& TVirtualPwmPort::Ch(int Channel) {
  if (Channel >= 0 && Channel < static_cast<int>(FChannels.size())) {
    return FChannels[static_cast<size_t>(Channel)];
  }
  return FOther;
}

bool TVirtualPwmPort::GetPwmOn(int Channel) {
  std::lock_guard<std::mutex> L(FLock);
  return Ch(Channel).On;
}

double TVirtualPwmPort::GetFrequency(int Channel) {
  std::lock_guard<std::mutex> L(FLock);
  return Ch(Channel).Freq;
}

double TVirtualPwmPort::GetRatio(int Channel) {
  std::lock_guard<std::mutex> L(FLock);
  return Ch(Channel).Ratio;
}

void TVirtualPwmPort::SetPwmOn(int Channel, bool On) {
  bool Changed = false;
  {
    std::lock_guard<std::mutex> L(FLock);
    Changed = Ch(Channel).On != On;
    Ch(Channel).On = On;
  }
  FIO.Record(TIoKind::PwmOn, Channel, On ? 1.0 : 0.0, Changed);
}

void TVirtualPwmPort::SetFrequency(int Channel, double Value) {
  bool Changed = false;
  {
    std::lock_guard<std::mutex> L(FLock);
    Changed = Ch(Channel).Freq != Value;
    Ch(Channel).Freq = Value;
  }
  FIO.Record(TIoKind::PwmFreq, Channel, Value, Changed);
}

void TVirtualPwmPort::SetRatio(int Channel, double Value) {
  bool Changed = false;
  {
    std::lock_guard<std::mutex> L(FLock);
    Changed = Ch(Channel).Ratio != Value;
    Ch(Channel).Ratio = Value;
  }
  FIO.Record(TIoKind::PwmRatio, Channel, Value, Changed);
}

} // namespace nclaser::hostkit

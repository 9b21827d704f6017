#include "Animation.h"

#include <QtCore/QByteArray>
#include <QtCore/QTimer>

namespace gf {

TAnimation::TAnimation() : FTimer(std::make_unique<QTimer>()) {
  FTimer->setInterval(100);
  QObject::connect(FTimer.get(), &QTimer::timeout, FTimer.get(), [this] { Tick(); });
}

TAnimation::~TAnimation() {
  // The owner may be half gone already: the frames go without telling it.
  OnChange = nullptr;
  OnStop = nullptr;
  Clear();
}

void TAnimation::AddFrame(const QByteArray& Jpeg) {
  QImage img = QImage::fromData(Jpeg, "JPG");
  if (img.isNull())
    throw EAnimationError("Cannot decode an animation frame");
  FFrames.push_back(std::move(img));
}

void TAnimation::Delete(int I) {
  if (I < 0 || I >= Count())
    return;
  FFrames.erase(FFrames.begin() + I);
  SetIndex(FIndex);
}

void TAnimation::Clear() {
  while (Count() > 0)
    Delete(Count() - 1);
}

const QImage& TAnimation::GetFrame(int I) const {
  if (I < 0 || I >= Count())
    throw std::out_of_range("Animation frame index out of bounds");
  return FFrames[static_cast<std::size_t>(I)];
}

const QImage* TAnimation::CurrentFrame() const {
  if (FIndex < 0 || FIndex >= Count())
    return nullptr;
  return &FFrames[static_cast<std::size_t>(FIndex)];
}

bool TAnimation::Active() const {
  return FTimer->isActive();
}

void TAnimation::SetActive(bool Value) {
  if (Value == Active())
    return;
  if (Value)
    FTimer->start();
  else
    FTimer->stop();
  if (!Value && OnStop)
    OnStop(*this);
}

void TAnimation::SetIndex(int I) {
  if (I < 0)
    I = 0;
  if (I >= Count())
    I = Count() - 1;
  if (I == FIndex)
    return;
  FIndex = I;
  if (OnChange)
    OnChange(*this);
}

void TAnimation::Reset() {
  FIndex = -1;
  SetIndex(0);
}

void TAnimation::SetInterval(int Ms) {
  FTimer->setInterval(Ms);
}

int TAnimation::Interval() const {
  return FTimer->interval();
}

void TAnimation::Tick() {
  if (FIndex + 1 < Count())
    SetIndex(FIndex + 1);
  else if (Loop)
    SetIndex(0);
  else
    SetActive(false);
}

} // namespace gf

// A window-less frame player: holds frames, steps through them on a timer of the
// user-interface thread, and tells its owner when the current frame changes and when
// playback stops.
#pragma once

#include <QtGui/QImage>

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

class QByteArray;
class QTimer;

namespace gf {

class EAnimationError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TAnimation {
public:
  using TNotifyEvent = std::function<void(TAnimation& Sender)>;

  TAnimation();
  ~TAnimation();
  TAnimation(const TAnimation&) = delete;
  TAnimation& operator=(const TAnimation&) = delete;

  // Decodes a JPEG picture into a new last frame; raises EAnimationError when it
  // cannot be decoded, and adds nothing then. Index stays; no event.
  void AddFrame(const QByteArray& Jpeg);
  void Delete(int I);
  void Clear();
  int Count() const { return static_cast<int>(FFrames.size()); }
  // Raises std::out_of_range outside 0 .. Count - 1.
  const QImage& GetFrame(int I) const;
  // Null when Index is not a frame's position.
  const QImage* CurrentFrame() const;

  bool Active() const;
  void SetActive(bool Value);
  void Start() { SetActive(true); }
  void Stop() { SetActive(false); }
  int Index() const { return FIndex; }
  void SetIndex(int I);
  void Reset();
  void SetInterval(int Ms);
  int Interval() const;
  void Tick();

  bool Loop = false;
  TNotifyEvent OnStop;
  TNotifyEvent OnChange;

private:
  std::vector<QImage> FFrames;
  std::unique_ptr<QTimer> FTimer;
  int32_t FIndex = 0; // -1: no current frame
};

} // namespace gf

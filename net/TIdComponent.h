#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kv::net {

// The direction of a unit of work; each has its own counters.
enum class TWorkMode { wmRead, wmWrite };

// Connection phases reported through OnStatus. The ftp values exist for completeness only.
enum class TIdStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted
};

// Base of every component of the connection layer and of the HTTP client. It reports the
// progress of transfers (work notifications, nested per work mode) and connection phases
// (status notifications), and keeps the socket layer alive while it exists.
class TIdComponent {
 public:
  TIdComponent();
  virtual ~TIdComponent();
  TIdComponent(const TIdComponent&) = delete;
  TIdComponent& operator=(const TIdComponent&) = delete;

  using TWorkBeginEvent =
      std::function<void(TIdComponent& ASender, TWorkMode AWorkMode, int64_t AWorkCountMax)>;
  using TWorkEvent =
      std::function<void(TIdComponent& ASender, TWorkMode AWorkMode, int64_t AWorkCount)>;
  using TWorkEndEvent = std::function<void(TIdComponent& ASender, TWorkMode AWorkMode)>;
  using TIdStatusEvent =
      std::function<void(TIdComponent& ASender, TIdStatus AStatus, const std::string& AStatusText)>;

  TIdStatusEvent OnStatus;
  TWorkEvent OnWork;
  TWorkBeginEvent OnWorkBegin;
  TWorkEndEvent OnWorkEnd;

  // Opens a unit of work; only the outermost one announces its size and resets the count.
  virtual void BeginWork(TWorkMode mode, int64_t size = 0);
  // Adds bytes to the open unit; dropped while no unit is open.
  virtual void DoWork(TWorkMode mode, int64_t count);
  // Closes a unit; only the outermost one fires OnWorkEnd.
  virtual void EndWork(TWorkMode mode);

  // When set, the three work calls go to the target instead and fire its events. The target is
  // borrowed; it clears itself here when it is destroyed first.
  TIdComponent* WorkTarget() const { return m_workTarget; }
  void SetWorkTarget(TIdComponent* target);

  // Fires OnStatus (when assigned) with the status's text template filled with argument.
  void DoStatus(TIdStatus status, const std::string& argument = {});
  // The template of a status: "Resolving hostname %s.", "Connected.", ...
  static const char* StatusTemplate(TIdStatus status);

  // The counters of a work mode (kept after the unit ends, reset by the next outermost begin).
  int64_t WorkCount(TWorkMode mode) const { return Record(mode).workCount; }
  int64_t WorkCountMax(TWorkMode mode) const { return Record(mode).workCountMax; }
  int NestingLevel(TWorkMode mode) const { return Record(mode).nestingLevel; }

 protected:
  // Destruction watching: a watcher's Notification runs when a component it watches is
  // destroyed. Watching is mutual bookkeeping, so either side may go first.
  void FreeNotification(TIdComponent& watched);
  void RemoveFreeNotification(TIdComponent& watched);
  virtual void Notification(TIdComponent& destroyed);

 private:
  struct TWorkInfo {
    int64_t workCount = 0;
    int64_t workCountMax = 0;
    int nestingLevel = 0;
  };

  TWorkInfo& Record(TWorkMode mode) { return m_workInfos[static_cast<int>(mode)]; }
  const TWorkInfo& Record(TWorkMode mode) const { return m_workInfos[static_cast<int>(mode)]; }
  static void Unlink(std::vector<TIdComponent*>& list, TIdComponent* item);

  TWorkInfo m_workInfos[2];
  TIdComponent* m_workTarget = nullptr;
  // Components this one watches, and components that watch this one.
  std::vector<TIdComponent*> m_watched;
  std::vector<TIdComponent*> m_watchers;
};

}  // namespace kv::net

#include "net/TIdComponent.h"

#include <algorithm>

#include "net/TIdStack.h"

namespace kv::net {

TIdComponent::TIdComponent() {
  TIdStack::IncUsage();
}

TIdComponent::~TIdComponent() {
  // Tell the watchers first, so none keeps a pointer to this component; then leave the lists of
  // the components this one watches.
  while (!m_watchers.empty()) {
    TIdComponent* watcher = m_watchers.back();
    m_watchers.pop_back();
    Unlink(watcher->m_watched, this);
    watcher->Notification(*this);
  }
  for (TIdComponent* watched : m_watched) {
    Unlink(watched->m_watchers, this);
  }
  m_watched.clear();
  TIdStack::DecUsage();
}

void TIdComponent::Unlink(std::vector<TIdComponent*>& list, TIdComponent* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

void TIdComponent::FreeNotification(TIdComponent& watched) {
  if (&watched == this ||
      std::find(m_watched.begin(), m_watched.end(), &watched) != m_watched.end()) {
    return;
  }
  m_watched.push_back(&watched);
  watched.m_watchers.push_back(this);
}

void TIdComponent::RemoveFreeNotification(TIdComponent& watched) {
  Unlink(m_watched, &watched);
  Unlink(watched.m_watchers, this);
}

void TIdComponent::Notification(TIdComponent& destroyed) {
  if (m_workTarget == &destroyed) {
    m_workTarget = nullptr;
  }
}

void TIdComponent::SetWorkTarget(TIdComponent* target) {
  if (target == m_workTarget) {
    return;
  }
  if (m_workTarget != nullptr) {
    RemoveFreeNotification(*m_workTarget);
  }
  m_workTarget = target;
  if (target != nullptr) {
    FreeNotification(*target);
  }
}

void TIdComponent::BeginWork(TWorkMode mode, int64_t size) {
  if (m_workTarget != nullptr) {
    m_workTarget->BeginWork(mode, size);
    return;
  }
  TWorkInfo& info = Record(mode);
  ++info.nestingLevel;
  if (info.nestingLevel == 1) {
    info.workCountMax = size;
    info.workCount = 0;
    if (OnWorkBegin) {
      OnWorkBegin(*this, mode, size);
    }
  }
}

void TIdComponent::DoWork(TWorkMode mode, int64_t count) {
  if (m_workTarget != nullptr) {
    m_workTarget->DoWork(mode, count);
    return;
  }
  TWorkInfo& info = Record(mode);
  if (info.nestingLevel > 0) {
    info.workCount += count;
    if (OnWork) {
      OnWork(*this, mode, info.workCount);
    }
  }
}

void TIdComponent::EndWork(TWorkMode mode) {
  if (m_workTarget != nullptr) {
    m_workTarget->EndWork(mode);
    return;
  }
  TWorkInfo& info = Record(mode);
  // The level drops even when the handler raises, so the unit is closed on every path.
  struct TLevelDrop {
    int& level;
    ~TLevelDrop() { --level; }
  } drop{info.nestingLevel};
  if (info.nestingLevel == 1 && OnWorkEnd) {
    OnWorkEnd(*this, mode);
  }
}

const char* TIdComponent::StatusTemplate(TIdStatus status) {
  switch (status) {
    case TIdStatus::hsResolving:
      return "Resolving hostname %s.";
    case TIdStatus::hsConnecting:
      return "Connecting to %s.";
    case TIdStatus::hsConnected:
      return "Connected.";
    case TIdStatus::hsDisconnecting:
      return "Disconnecting.";
    case TIdStatus::hsDisconnected:
      return "Disconnected.";
    case TIdStatus::hsStatusText:
    case TIdStatus::ftpTransfer:
    case TIdStatus::ftpReady:
    case TIdStatus::ftpAborted:
      break;
  }
  return "%s";
}

void TIdComponent::DoStatus(TIdStatus status, const std::string& argument) {
  if (!OnStatus) {
    return;
  }
  // The argument is inserted as plain text, never used as a format itself.
  std::string text = StatusTemplate(status);
  const size_t placeholder = text.find("%s");
  if (placeholder != std::string::npos) {
    text.replace(placeholder, 2, argument);
  }
  OnStatus(*this, status, text);
}

}  // namespace kv::net

// What one stand-in process serves: the model, the state directory, and the objects handed to clients.
#pragma once

#include <windows.h>

#include <oaidl.h>

#include <functional>
#include <set>
#include <string>

#include "standin/model/office_model.h"
#include "standin/server/state_dir.h"

namespace standin::server {

class NodeDispatch;

class Session {
 public:
  Session(Office& office, const StateDir& dir)
      : office_(office), dir_(dir), journalFile_(dir, L"journal.txt"), namesFile_(dir, L"getidsofnames.txt") {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  Office& office() { return office_; }
  const StateDir& dir() const { return dir_; }

  // A new object for `node` with one reference, which the caller hands on. The model counts the node
  // as held (Office::Retain) until the object's last reference goes.
  NodeDispatch* Wrap(const NodeRef& node);
  // The node behind `object` when it is one of ours (a client passed one back), or null.
  NodeRef NodeOf(IUnknown* object) const;

  // Called after every call into the model: appends the journal's new entries to journal.txt, and
  // handles an application that was told to quit (saved_<app>.txt, then onQuit).
  void Flush();
  // Appends one line to getidsofnames.txt, numbered by its own counter.
  void NoteNames(const std::wstring& line);

  // IClassFactory::LockServer.
  void Lock(bool lock);
  // Objects alive plus server locks.
  int Outstanding() const { return static_cast<int>(objects_.size()) + locks_; }

  // A call that is to get no answer waits in here (onHang) and fails once the wait ends: true when it hung.
  bool HangIfDue() {
    if (!office_.TakeHang()) return false;
    if (onHang) onHang();
    return true;
  }

  std::function<void()> onIdle;              // Outstanding() fell to zero
  std::function<void()> onHang;              // a call is to get no answer: returns when the server ends
  std::function<void(Application&)> onQuit;  // an application was told to quit; once per application

  // Kept by NodeDispatch.
  void Added(NodeDispatch* object) { objects_.insert(object); }
  void Removed(NodeDispatch* object);

 private:
  void CheckIdle();

  Office& office_;
  const StateDir& dir_;
  LineFile journalFile_;
  LineFile namesFile_;
  std::set<NodeDispatch*> objects_;
  int locks_ = 0;
  size_t journalWritten_ = 0;
  int namesCalls_ = 0;
  std::set<std::wstring> quitHandled_;
};

}  // namespace standin::server

// The session: journal and quit bookkeeping, and the count of objects alive.
#include "standin/server/session.h"

#include "standin/server/node_dispatch.h"

namespace standin::server {

NodeDispatch* Session::Wrap(const NodeRef& node) { return new NodeDispatch(*this, node); }

NodeRef Session::NodeOf(IUnknown* object) const {
  // Every interface pointer of ours is the object's IDispatch pointer (see NodeDispatch).
  for (NodeDispatch* own : objects_) {
    if (static_cast<IUnknown*>(static_cast<IDispatch*>(own)) == object) return own->node();
  }
  return nullptr;
}

void Session::Flush() {
  const auto& journal = office_.Journal();
  for (; journalWritten_ < journal.size(); ++journalWritten_) {
    journalFile_.Append(std::to_wstring(journalWritten_ + 1) + L" " + journal[journalWritten_].ToString());
  }
  for (const auto& app : office_.Applications()) {
    if (app->quitCount == 0 || !quitHandled_.insert(app->name).second) continue;
    // Word saves its template, and with it the command bars, when it quits with SaveChanges true.
    if (app->savedOnQuit.value_or(false) && app->object) {
      dir_.Write(L"saved_" + app->name + L".txt", app->object->StateText(L""));
    }
    if (onQuit) onQuit(*app);
  }
}

void Session::NoteNames(const std::wstring& line) { namesFile_.Append(std::to_wstring(++namesCalls_) + L" " + line); }

void Session::Lock(bool lock) {
  locks_ += lock ? 1 : -1;
  if (!lock) CheckIdle();
}

void Session::Removed(NodeDispatch* object) {
  objects_.erase(object);
  CheckIdle();
}

void Session::CheckIdle() {
  if (Outstanding() == 0 && onIdle) onIdle();
}

}  // namespace standin::server

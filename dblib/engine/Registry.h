// Engines (database servers) of this process and their visibility to other processes.
//
// An Engine is a named server object that serves started databases by name. The process-wide
// Registry holds the running engines; every change is published to a per-user registry
// directory (one entry file per engine: owner pid + its start time, and the databases with
// their files), so that another process of the same user can find an engine and database by
// name and open the same file itself (SQLite's locking keeps the two consistent). A crashed
// process leaves its entry behind; any lookup recognises an entry whose process is gone (or
// whose pid now belongs to a younger process) and removes it.
//
// Directory: $ZYL_ENGINE_DIR if set, else $XDG_RUNTIME_DIR/zylobase-engines, else
// /tmp/zylobase-<uid>/engines (created 0700).
//
// Engines belong to the process that runs them, so two processes may each run an engine of the
// same name (each entry file is named after engine and pid): a process that must start a
// database file that another process's engine of that name does not serve starts its own engine
// under that name, and its own engines come first in every look-up it makes.
//
// Finding an engine or database and starting it when it is missing is one step (StartLock): a
// mutex serialises it within the process and an advisory lock on a file in the registry
// directory across processes, so that connects racing to the first start all succeed.
//
// Engine life cycle: StartEngine -> running (published) --StartDatabase/StopDatabase-->
// running --StopEngine (no connections, or unconditional)--> stopped (entry removed).
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dblib/engine/Engine.h"

namespace dbl {

class Engine {
 public:
  Engine(std::string name, std::optional<std::string> suPassword, DatabaseFactory& factory);
  const std::string& Name() const { return name_; }
  // The -su password of the start line; without one the utility database takes any password.
  const std::optional<std::string>& SuPassword() const { return su_; }

  // Starts file under name (default: the file prefix). -77 when the name is taken by another
  // file, -816 when the file already runs under another name, -83/-82 from the factory.
  // Returns the running database (also when it already ran under that name).
  std::shared_ptr<Database> StartDatabase(const std::string& file, const std::string& name, bool autoStop);
  std::shared_ptr<Database> Find(const std::string& name) const;      // case-insensitive
  std::shared_ptr<Database> FindFile(const std::string& file) const;  // same file (by path)
  std::shared_ptr<Database> Only() const;                             // the only database, or null
  std::shared_ptr<Database> Utility();
  // -109 when connections remain and not unconditional; false when no such database.
  bool StopDatabase(const std::string& name, bool unconditional);
  // A name for file that no other database of this engine has: the file prefix, or the prefix
  // with a number when another file of that prefix runs here already.
  std::string FreeName(const std::string& file) const;
  // Stops databases marked auto-stop that have no connections left; true when one stopped.
  // Nothing stops while a connect is on its way to this engine (Reserve .. Release).
  bool SweepAutoStop();
  void Reserve();
  void Release();
  bool Reserved() const;
  int DatabaseCount() const;
  int ConnectionCount() const;
  std::vector<std::pair<std::string, std::string>> List() const;  // (name, file)
  bool autoStop = false;  // stop the engine when its last database stops (auto-started)

 private:
  struct Entry {
    std::shared_ptr<Database> db;
    bool autoStop;
  };
  std::string name_;
  std::optional<std::string> su_;
  DatabaseFactory& factory_;
  mutable std::mutex m_;
  std::map<std::string, Entry> dbs_;  // key: upper-case database name
  std::shared_ptr<Database> utility_;
  int reserved_ = 0;  // connects that found this engine and have not logged in yet
};

// An engine of another process, read from the registry directory.
struct RemoteEngine {
  std::string name;
  long pid = 0;
  std::vector<std::pair<std::string, std::string>> databases;  // (name, file)
  // The name under which this engine serves file (compared as canonical paths), or empty.
  std::string NameOf(const std::string& file) const;
};

class Registry;

// Holds the registry still for one look-up-and-start (see the head of this file). Never taken
// while another StartLock of this thread is held.
class StartLock {
 public:
  explicit StartLock(Registry& r);
  ~StartLock();
  StartLock(const StartLock&) = delete;
  StartLock& operator=(const StartLock&) = delete;

 private:
  std::unique_lock<std::mutex> local_;
  int fd_ = -1;  // the locked file, -1 when the directory could not be used
};

class Registry {
 public:
  static Registry& Get();
  bool Idle();  // no engine of this process runs

  DatabaseFactory& Factory() { return *factory_; }

  // -96 when an engine of that name runs here, or (unless ownInstance) in another live process.
  // ownInstance: start this process's own engine of a name another process runs as well.
  std::shared_ptr<Engine> StartEngine(const std::string& name, std::optional<std::string> suPassword,
                                      bool ownInstance = false);
  std::shared_ptr<Engine> Find(const std::string& name) const;  // this process, case-insensitive
  std::shared_ptr<Engine> Default() const;                      // first engine started here, or null
  std::vector<std::shared_ptr<Engine>> Engines() const;         // this process's, in start order
  // -109 when connections remain and not unconditional; false when not running here.
  bool StopEngine(const std::string& name, bool unconditional);
  // Rewrites this engine's registry entry (after its databases changed).
  void Publish(const Engine& e);
  std::optional<RemoteEngine> FindRemote(const std::string& name);
  // Every live engine of that name (every engine when name is empty) in other processes.
  std::vector<RemoteEngine> FindRemotes(const std::string& name);
  // Any live engine in another process (for connects without an engine name).
  std::optional<RemoteEngine> AnyRemote();
  // Databases of other processes opened here, shared by this process's connections.
  std::shared_ptr<Database> AttachRemote(const RemoteEngine& e, const std::string& dbName, const std::string& file);
  std::vector<std::string> EngineNames();  // this process's engines, then the live others
  // Every engine there is to find, with its databases: this process's, then the live others.
  std::vector<RemoteEngine> Servers();
  void SweepAutoStop();  // auto-stop databases and engines that became idle (takes StartLock)
  std::string Directory() const;

 private:
  friend class StartLock;
  Registry();
  std::vector<RemoteEngine> ReadEntries(bool removeStale);
  void Unpublish(const std::string& name);

  std::unique_ptr<DatabaseFactory> factory_;
  mutable std::mutex m_;
  std::mutex start_;  // StartLock's part within the process; taken before m_
  std::vector<std::shared_ptr<Engine>> engines_;                 // start order
  std::map<std::string, std::weak_ptr<Database>> attached_;      // key: file path
};

std::string UpperName(const std::string& s);
// The path a database file is known by: absolute, with links and dot segments resolved.
std::string CanonicalFile(const std::string& file);

}  // namespace dbl

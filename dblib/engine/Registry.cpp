// Engines of this process and the per-user registry directory shared with other processes.
#include "dblib/engine/Registry.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "dblib/sql/ConnectionString.h"
#include "dblib/sql/Errors.h"

namespace dbl {
namespace fs = std::filesystem;

std::string UpperName(const std::string& s) {
  std::string r = s;
  for (auto& c : r) c = char(std::toupper(static_cast<unsigned char>(c)));
  return r;
}

std::string CanonicalFile(const std::string& file) {
  std::error_code ec;
  auto p = fs::weakly_canonical(fs::absolute(file, ec), ec);
  return ec ? file : p.string();
}

namespace {

// Start time of a process (clock ticks since boot) and whether it is alive (not a zombie).
bool ProcessInfo(long pid, unsigned long long& start) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  if (!f) return false;
  std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  auto close = s.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream in(s.substr(close + 2));
  std::string state;
  in >> state;
  if (state == "Z" || state == "X") return false;
  std::string skip;
  for (int i = 0; i < 18; ++i) in >> skip;  // fields 4 .. 21
  in >> start;                               // field 22
  return bool(in);
}

unsigned long long OwnStart() {
  unsigned long long s = 0;
  ProcessInfo(long(getpid()), s);
  return s;
}

// One entry per engine and process: two processes may each run an engine of the same name.
std::string EntryFileName(const std::string& engine) {
  std::string f;
  for (char c : UpperName(engine)) f += (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-') ? c : '_';
  return f + "." + std::to_string(getpid()) + ".eng";
}

}  // namespace

// ---- Engine ----

Engine::Engine(std::string name, std::optional<std::string> suPassword, DatabaseFactory& factory)
    : name_(std::move(name)), su_(std::move(suPassword)), factory_(factory) {}

std::shared_ptr<Database> Engine::StartDatabase(const std::string& file, const std::string& name, bool autoStop) {
  std::string dbName = name.empty() ? FilePrefix(file) : name;
  if (dbName.empty()) throw SqlError(SQLE_DATABASE_NAME_REQUIRED);
  std::string path = CanonicalFile(file);
  std::lock_guard<std::mutex> lock(m_);
  auto it = dbs_.find(UpperName(dbName));
  if (it != dbs_.end()) {
    if (CanonicalFile(it->second.db->File()) == path) return it->second.db;
    throw SqlError(SQLE_ALIAS_CLASH);
  }
  for (auto& [k, e] : dbs_)
    if (CanonicalFile(e.db->File()) == path) throw SqlError(SQLE_FILE_IN_USE);
  auto db = factory_.Open(path, dbName, name_);
  dbs_[UpperName(dbName)] = {db, autoStop};
  return db;
}

std::shared_ptr<Database> Engine::Find(const std::string& name) const {
  std::lock_guard<std::mutex> lock(m_);
  auto it = dbs_.find(UpperName(name));
  return it == dbs_.end() ? nullptr : it->second.db;
}

std::shared_ptr<Database> Engine::FindFile(const std::string& file) const {
  std::string path = CanonicalFile(file);
  std::lock_guard<std::mutex> lock(m_);
  for (auto& [k, e] : dbs_)
    if (CanonicalFile(e.db->File()) == path) return e.db;
  return nullptr;
}

std::shared_ptr<Database> Engine::Only() const {
  std::lock_guard<std::mutex> lock(m_);
  return dbs_.size() == 1 ? dbs_.begin()->second.db : nullptr;
}

std::shared_ptr<Database> Engine::Utility() {
  std::lock_guard<std::mutex> lock(m_);
  if (!utility_) utility_ = factory_.Utility(name_, su_.value_or(std::string()));
  return utility_;
}

bool Engine::StopDatabase(const std::string& name, bool unconditional) {
  std::lock_guard<std::mutex> lock(m_);
  auto it = dbs_.find(UpperName(name));
  if (it == dbs_.end()) return false;
  if (!unconditional && it->second.db->ConnectionCount() > 0) throw SqlError(SQLE_STILL_ACTIVE_CONNECTIONS);
  dbs_.erase(it);  // connections keep their own reference; the file closes with the last one
  return true;
}

std::string Engine::FreeName(const std::string& file) const {
  std::string base = FilePrefix(file), name = base;
  std::lock_guard<std::mutex> lock(m_);
  for (int n = 2; dbs_.count(UpperName(name)); ++n) name = base + std::to_string(n);
  return name;
}

void Engine::Reserve() {
  std::lock_guard<std::mutex> lock(m_);
  ++reserved_;
}

void Engine::Release() {
  std::lock_guard<std::mutex> lock(m_);
  --reserved_;
}

bool Engine::Reserved() const {
  std::lock_guard<std::mutex> lock(m_);
  return reserved_ > 0;
}

bool Engine::SweepAutoStop() {
  std::lock_guard<std::mutex> lock(m_);
  bool any = false;
  if (reserved_ > 0) return false;
  for (auto it = dbs_.begin(); it != dbs_.end();) {
    if (it->second.autoStop && it->second.db->ConnectionCount() == 0) {
      it = dbs_.erase(it);
      any = true;
    } else {
      ++it;
    }
  }
  return any;
}

int Engine::DatabaseCount() const {
  std::lock_guard<std::mutex> lock(m_);
  return int(dbs_.size());
}

int Engine::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(m_);
  int n = utility_ ? utility_->ConnectionCount() : 0;
  for (auto& [k, e] : dbs_) n += e.db->ConnectionCount();
  return n;
}

std::vector<std::pair<std::string, std::string>> Engine::List() const {
  std::lock_guard<std::mutex> lock(m_);
  std::vector<std::pair<std::string, std::string>> out;
  for (auto& [k, e] : dbs_) out.emplace_back(e.db->Name(), e.db->File());
  return out;
}

std::string RemoteEngine::NameOf(const std::string& file) const {
  std::string path = CanonicalFile(file);
  for (auto& [n, f] : databases)
    if (f == path || CanonicalFile(f) == path) return n;
  return {};
}

// ---- StartLock ----

StartLock::StartLock(Registry& r) : local_(r.start_) {
  std::error_code ec;
  fs::path dir = r.Directory();
  fs::create_directories(dir, ec);
  ::chmod(dir.c_str(), 0700);
  fd_ = ::open((dir / ".start.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  // Without the lock file, processes may race to the first start as they did before; this
  // process stays serialised by the mutex.
  if (fd_ >= 0)
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
}

StartLock::~StartLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

// ---- Registry ----

namespace {
Registry* g_registry = nullptr;
}  // namespace

Registry& Registry::Get() {
  // Never destroyed while engines run: entry points may run from other threads' exit paths or
  // atexit handlers.
  static Registry* r = g_registry = new Registry();
  return *r;
}

// Unloading the library with no engine left frees the registry (see Client.cpp's table).
bool Registry::Idle() {
  std::lock_guard<std::mutex> lock(m_);
  return engines_.empty();
}

__attribute__((destructor)) static void FreeRegistryAtUnload() {
  if (g_registry && g_registry->Idle()) delete g_registry;
}

Registry::Registry() : factory_(MakeSqliteFactory()) {}

std::string Registry::Directory() const {
  if (const char* d = std::getenv("ZYL_ENGINE_DIR"); d && *d) return d;
  if (const char* x = std::getenv("XDG_RUNTIME_DIR"); x && *x) return std::string(x) + "/zylobase-engines";
  return "/tmp/zylobase-" + std::to_string(getuid()) + "/engines";
}

std::vector<RemoteEngine> Registry::ReadEntries(bool removeStale) {
  std::vector<RemoteEngine> out;
  std::error_code ec;
  fs::path dir = Directory();
  for (auto& de : fs::directory_iterator(dir, ec)) {
    if (de.path().extension() != ".eng") continue;
    std::ifstream f(de.path());
    RemoteEngine e;
    unsigned long long start = 0;
    std::string line;
    while (std::getline(f, line)) {
      if (line.rfind("engine\t", 0) == 0) e.name = line.substr(7);
      else if (line.rfind("pid\t", 0) == 0) e.pid = std::atol(line.c_str() + 4);
      else if (line.rfind("start\t", 0) == 0) start = std::strtoull(line.c_str() + 6, nullptr, 10);
      else if (line.rfind("db\t", 0) == 0) {
        auto tab = line.find('\t', 3);
        if (tab != std::string::npos) e.databases.emplace_back(line.substr(3, tab - 3), line.substr(tab + 1));
      }
    }
    unsigned long long actual = 0;
    bool alive = e.pid > 0 && ProcessInfo(e.pid, actual) && actual == start;
    if (!alive || e.name.empty()) {
      if (removeStale) fs::remove(de.path(), ec);
      continue;
    }
    if (e.pid == long(getpid())) continue;  // our own engines are known in memory
    out.push_back(std::move(e));
  }
  return out;
}

std::optional<RemoteEngine> Registry::FindRemote(const std::string& name) {
  for (auto& e : ReadEntries(true))
    if (UpperName(e.name) == UpperName(name)) return e;
  return std::nullopt;
}

std::vector<RemoteEngine> Registry::FindRemotes(const std::string& name) {
  std::vector<RemoteEngine> out;
  for (auto& e : ReadEntries(true))
    if (name.empty() || UpperName(e.name) == UpperName(name)) out.push_back(std::move(e));
  return out;
}

std::optional<RemoteEngine> Registry::AnyRemote() {
  auto all = ReadEntries(true);
  if (all.empty()) return std::nullopt;
  return all.front();
}

void Registry::Publish(const Engine& e) {
  std::error_code ec;
  fs::path dir = Directory();
  fs::create_directories(dir, ec);
  ::chmod(dir.c_str(), 0700);
  std::string body = "engine\t" + e.Name() + "\npid\t" + std::to_string(getpid()) + "\nstart\t" +
                     std::to_string(OwnStart()) + "\n";
  for (auto& [n, f] : e.List()) body += "db\t" + n + "\t" + f + "\n";
  fs::path target = dir / EntryFileName(e.Name());
  fs::path tmp = target;
  tmp += ".tmp" + std::to_string(getpid());
  {
    std::ofstream out(tmp, std::ios::trunc);
    out << body;
    if (!out) return;  // the registry is advisory; an unwritable directory only hides us
  }
  fs::rename(tmp, target, ec);
  if (ec) fs::remove(tmp, ec);
}

void Registry::Unpublish(const std::string& name) {
  std::error_code ec;
  fs::path target = fs::path(Directory()) / EntryFileName(name);
  // Only our own entry: another process may have taken the name after we stopped.
  std::ifstream f(target);
  std::string line;
  while (std::getline(f, line))
    if (line == "pid\t" + std::to_string(getpid())) {
      fs::remove(target, ec);
      return;
    }
}

std::shared_ptr<Engine> Registry::StartEngine(const std::string& name, std::optional<std::string> suPassword,
                                              bool ownInstance) {
  if (name.empty()) throw SqlError(SQLE_INVALID_COMMAND_LINE);
  std::lock_guard<std::mutex> lock(m_);
  for (auto& e : engines_)
    if (UpperName(e->Name()) == UpperName(name)) throw SqlError(SQLE_ENGINE_ALREADY_RUNNING);
  if (!ownInstance)
    for (auto& r : ReadEntries(true))
      if (UpperName(r.name) == UpperName(name)) throw SqlError(SQLE_ENGINE_ALREADY_RUNNING);
  auto e = std::make_shared<Engine>(name, std::move(suPassword), *factory_);
  engines_.push_back(e);
  Publish(*e);
  return e;
}

std::shared_ptr<Engine> Registry::Find(const std::string& name) const {
  std::lock_guard<std::mutex> lock(m_);
  for (auto& e : engines_)
    if (UpperName(e->Name()) == UpperName(name)) return e;
  return nullptr;
}

std::shared_ptr<Engine> Registry::Default() const {
  std::lock_guard<std::mutex> lock(m_);
  return engines_.empty() ? nullptr : engines_.front();
}

std::vector<std::shared_ptr<Engine>> Registry::Engines() const {
  std::lock_guard<std::mutex> lock(m_);
  return engines_;
}

bool Registry::StopEngine(const std::string& name, bool unconditional) {
  std::lock_guard<std::mutex> lock(m_);
  for (auto it = engines_.begin(); it != engines_.end(); ++it) {
    if (UpperName((*it)->Name()) != UpperName(name)) continue;
    if (!unconditional && (*it)->ConnectionCount() > 0) throw SqlError(SQLE_STILL_ACTIVE_CONNECTIONS);
    std::string n = (*it)->Name();
    engines_.erase(it);
    Unpublish(n);
    return true;
  }
  return false;
}

std::shared_ptr<Database> Registry::AttachRemote(const RemoteEngine& e, const std::string& dbName,
                                                 const std::string& file) {
  std::lock_guard<std::mutex> lock(m_);
  std::string key = CanonicalFile(file);
  if (auto it = attached_.find(key); it != attached_.end())
    if (auto db = it->second.lock()) return db;
  auto db = factory_->Open(key, dbName, e.name);
  attached_[key] = db;
  return db;
}

std::vector<RemoteEngine> Registry::Servers() {
  std::vector<RemoteEngine> out;
  {
    std::lock_guard<std::mutex> lock(m_);
    for (auto& e : engines_) out.push_back(RemoteEngine{e->Name(), long(getpid()), e->List()});
  }
  for (auto& r : ReadEntries(true)) out.push_back(std::move(r));
  return out;
}

std::vector<std::string> Registry::EngineNames() {
  std::vector<std::string> names;
  {
    std::lock_guard<std::mutex> lock(m_);
    for (auto& e : engines_) names.push_back(e->Name());
  }
  for (auto& r : ReadEntries(true)) names.push_back(r.name);
  return names;
}

void Registry::SweepAutoStop() {
  StartLock hold(*this);  // a connect between its look-up and its login keeps its engine
  std::vector<std::shared_ptr<Engine>> engines;
  {
    std::lock_guard<std::mutex> lock(m_);
    engines = engines_;
  }
  for (auto& e : engines) {
    if (e->SweepAutoStop()) Publish(*e);
    if (e->autoStop && e->DatabaseCount() == 0 && e->ConnectionCount() == 0 && !e->Reserved()) {
      try {
        StopEngine(e->Name(), false);
      } catch (const SqlError&) {
      }
    }
  }
}

}  // namespace dbl

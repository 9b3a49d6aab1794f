// TAsaStatementPool: the statement numbers of one connection, recycled across prepares.
#include "asa/ZylAsa.h"

TAsaStatementPool::TAsaStatementPool(TAsaSession* Session, int32_t Capacity) : FSession(Session) {
  if (Capacity > 0) FStatements.reserve(static_cast<size_t>(Capacity));
}

TAsaStatementPool::~TAsaStatementPool() { Clear(); }

TAsaStatement* TAsaStatementPool::Find(int32_t StatementNumber) {
  for (auto& S : FStatements)
    if (S->StatementNumber == StatementNumber) return S.get();
  return nullptr;
}

int32_t TAsaStatementPool::Next() const {
  for (const auto& S : FStatements)
    if (!S->InUse) return S->StatementNumber;
  return 0;
}

void TAsaStatementPool::Use(int32_t StatementNumber) {
  if (TAsaStatement* S = Find(StatementNumber)) {
    S->InUse = true;
    return;
  }
  // Libraries up to version 5 do not reuse a number handed back to PREPARE, so remembering it
  // would only hand out numbers the library has forgotten.
  if (!FSession || FSession->Version() <= 5) return;
  auto S = std::make_unique<TAsaStatement>();
  S->StatementNumber = StatementNumber;
  S->InUse = true;
  FStatements.push_back(std::move(S));
}

void TAsaStatementPool::Drop(int32_t StatementNumber) {
  if (TAsaStatement* S = Find(StatementNumber)) S->InUse = false;
}

void TAsaStatementPool::Clear() {
  while (!FStatements.empty()) FStatements.pop_back();
}

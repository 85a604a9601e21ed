// Fetching: a request compiled to SQL, its rows read in one statement, the context's unsaved
// changes laid over them, and objects handed out.
#include <algorithm>
#include <numeric>
#include <unordered_set>

#include "platform/store/collation.h"
#include "platform/store/context.h"
#include "platform/store/context_internal.h"
#include "platform/store/errors.h"
#include "platform/store/query.h"
#include "platform/store/sqlite.h"
#include "platform/store/store.h"

namespace store {

using detail::closedError;
using detail::kLoadChunk;
using detail::objectColumns;
using detail::placeholders;
using detail::readColumn;
using foundation::Value;

namespace {

void appendKey(std::vector<Context::KeyRun>& runs, Value key) {
  if (!runs.empty() && runs.back().key.type() == key.type() && runs.back().key == key) {
    ++runs.back().count;
  } else {
    runs.push_back(Context::KeyRun{std::move(key), 1});
  }
}

// A read transaction that a fetch opens when it needs more than one statement (a destination
// search, then the rows), so that both read the same state of the file and share one lock instead
// of taking it twice. Only opened where no transaction is open already; ended when it goes.
class ReadTransaction {
 public:
  explicit ReadTransaction(sql::Connection& connection) : connection_(connection) {}
  ReadTransaction(const ReadTransaction&) = delete;
  ReadTransaction& operator=(const ReadTransaction&) = delete;
  ~ReadTransaction() {
    if (!open_) return;
    auto commit = connection_.prepare("COMMIT");
    if (!commit || commit->step() != SQLITE_DONE) (void)connection_.exec("ROLLBACK");
  }
  void open() {
    if (open_ || !sqlite3_get_autocommit(connection_.handle())) return;
    auto begin = connection_.prepare("BEGIN");
    open_ = begin && begin->step() == SQLITE_DONE;
  }

 private:
  sql::Connection& connection_;
  bool open_ = false;
};

// Answers the compiler's destination searches on this connection, before the fetch itself runs.
detail::DestinationSearch destinationSearchOn(sql::Connection& connection, ReadTransaction& transaction) {
  return [&connection, &transaction](
             const std::string& table, const std::string& condition,
             const std::vector<Value>& bindings) -> foundation::Result<std::vector<std::int64_t>> {
    transaction.open();
    auto statement = connection.prepare("SELECT s.Z_PK FROM " + table + " s WHERE " + condition);
    if (!statement) return statement.error();
    int index = 1;
    for (const Value& v : bindings) detail::bindValue(*statement, index++, v);
    std::vector<std::int64_t> keys;
    int rc;
    while ((rc = statement->step()) == SQLITE_ROW) keys.push_back(statement->columnInt(0));
    if (rc != SQLITE_DONE) return connection.errorFor(rc, kCoreDataError, "Fetch failed");
    return keys;
  };
}
// The file's data version: it moves with every change written to the file, by this connection at
// once and by others once a read of this connection has begun.
unsigned dataVersion(sql::Connection& connection) {
  unsigned version = 0;
  sqlite3_file_control(connection.handle(), "main", SQLITE_FCNTL_DATA_VERSION, &version);
  return version;
}

// One column of a row, read as the value it converts to where that value is made.
struct ColumnRead {
  const sql::Statement& statement;
  int column;
  AttributeType type;
  operator Value() const { return readColumn(statement, column, type); }
};

foundation::Error noEntityError(const std::string& name) {
  return makeError(kCoreDataError, "No entity named \"" + name + "\"");
}

}  // namespace

// A fetch runs in steps: compile the request (query.cpp), resolve the key path asked for beside
// each row, read the stored rows in one statement, lay this context's unsaved changes over them
// when an entity the fetch touches has any, and hand out objects (loaded with the rows, or as
// faults that load in batches).

namespace detail {

// What one run of a fetch works on: the compiled request (made for it, or kept from an earlier run
// of the same request) and what the run reads.
struct FetchPass {
  FetchPass(const FetchRequest& r, CompiledFetch::Shape& s) : request(r), shape(s) {}
  const FetchRequest& request;
  CompiledFetch::Shape& shape;
  bool pending = false;           // unsaved changes of a touched entity must be laid over the rows
  std::vector<Value> sortValues;  // while pending: the sort keys of every row, plan.sorts per row
  bool stale = false;             // a kept compilation no longer matches the file: nothing was read
  const Context::RowVisitor* visit = nullptr;  // stored rows go to it instead of into `rows`
  FetchRows rows;
};

}  // namespace detail

foundation::Status Context::resolveGroupKey(detail::FetchPass& pass, std::string_view keyPath) {
  pass.shape.wantKey = !keyPath.empty();
  if (!pass.shape.wantKey) return {};
  const EntityDescription& entity = *pass.rows.entity;
  const AttributeDescription* attribute = entity.attribute(keyPath);
  if (attribute && attribute->transient) {
    if (!attribute->derive)
      return makeError(kCoreDataError, "Transient \"" + attribute->name + "\" has no value to group by");
    pass.shape.derived = attribute;
    for (size_t source : attribute->sourceIndexes) {
      pass.shape.keyColumns.push_back("t0." + entity.attributes[source].column);
      pass.shape.keyTypes.push_back(entity.attributes[source].type);
    }
    return {};
  }
  auto key = pass.shape.plan.resolve(std::string(keyPath), false);
  if (!key) return key.error();
  pass.shape.keyRef = *key;
  pass.shape.keyColumns.push_back(pass.shape.plan.columnOf(*key));
  pass.shape.keyTypes.push_back(key->attribute->type);
  return {};
}

bool Context::hasPendingChanges(const detail::QueryPlan& plan, const FetchRequest& request) const {
  if (!request.includesPendingChanges) return false;
  if (pendingPerEntity_[plan.entity->index] > 0) return true;
  for (const RelationshipDescription* hop : plan.hops)
    if (pendingPerEntity_[hop->destination->index] > 0) return true;
  return false;
}

foundation::Status Context::readStoredRows(detail::FetchPass& pass, bool kept) {
  const detail::QueryPlan& plan = pass.shape.plan;
  const FetchRequest& request = pass.request;
  const EntityDescription& entity = *pass.rows.entity;
  // Only a real window gets LIMIT: with one SQLite sorts through a b-tree, which is slower than
  // its merge sort when every row is wanted.
  const bool window = !pass.pending && (request.fetchLimit || request.fetchOffset);
  if (!kept) {
    // While changes are pending the window and the order are applied after the merge, so the sort
    // keys come along with every row.
    std::string& sql = pass.shape.sql;
    sql = "SELECT t0.Z_PK";
    if (pass.pending)
      for (const auto& sort : plan.sorts) sql += ", " + pass.shape.plan.columnOf(sort.key);
    for (const auto& column : pass.shape.keyColumns) sql += ", " + column;
    // An object's whole row, or the values asked for.
    if (pass.shape.loadInline)
      sql += objectColumns(entity, "t0");
    else if (pass.shape.readValues)
      sql += objectColumns(entity, "t0", pass.shape.readsAttribute);
    if (pass.shape.readValues) {
      // The stored attributes' columns come in attribute order, those read only.
      const std::vector<bool>& reads = pass.shape.readsAttribute;
      pass.shape.valueColumnOf.assign(entity.attributes.size(), -1);
      int column = 0;
      for (const AttributeDescription& attribute : entity.attributes)
        if (!attribute.transient && (reads.empty() || reads[attribute.index]))
          pass.shape.valueColumnOf[attribute.index] = column++;
      pass.shape.valueColumns = column;
    }
    sql += " FROM " + plan.fromClause();
    if (!plan.where.empty()) sql += " WHERE " + plan.where;
    sql += " ORDER BY " + plan.orderBy;
    if (window) sql += " LIMIT ? OFFSET ?";
  }

  auto prepared = connection_->prepare(pass.shape.sql);
  if (!prepared) return prepared.error();
  // Taken once: every column of every row is read through it.
  sql::Statement& statement = *prepared;
  int index = 1;
  for (const Value& v : plan.bindings) detail::bindValue(statement, index++, v);
  if (window) {
    statement.bindInt(index++, request.fetchLimit ? static_cast<std::int64_t>(request.fetchLimit) : -1);
    statement.bindInt(index++, static_cast<std::int64_t>(request.fetchOffset));
  }

  detail::FetchRows& rows = pass.rows;
  // A page of the list has room for it at once rather than growing row by row; values read
  // without a limit get room for as many rows as the entity's last such read (up to a bound, so
  // that one long read does not make every later one take its room).
  constexpr size_t kMostRowsExpected = 4096;
  const bool limited = window && request.fetchLimit;
  const size_t expected = limited                 ? request.fetchLimit
                          : pass.shape.readValues ? std::min(valueRowsRead_[entity.index], kMostRowsExpected)
                                                  : 0;
  if (pass.shape.readValues && expected && !pass.visit) {
    rows.keys.reserve(expected);
    rows.values.reserve(expected * entity.attributes.size());
    rows.links.reserve(expected * entity.toOneCount());
  }
  if (limited) {
    rows.keys.reserve(request.fetchLimit);
    if (pass.shape.loadInline) {
      rows.objects.reserve(request.fetchLimit);
      auto& known = objects_[entity.index];
      known.reserve(known.size() + request.fetchLimit);
    }
  }
  const size_t sortCount = pass.pending ? plan.sorts.size() : 0;
  std::vector<Value> sources(pass.shape.keyColumns.size());
  auto keyFromStatement = [&](int firstColumn) -> Value {
    if (!pass.shape.derived) return readColumn(statement, firstColumn, pass.shape.keyTypes[0]);
    for (size_t i = 0; i < pass.shape.keyColumns.size(); ++i)
      sources[i] = readColumn(statement, firstColumn + static_cast<int>(i), pass.shape.keyTypes[i]);
    return pass.shape.derived->derive(sources);
  };
  const int keyColumn = 1 + static_cast<int>(sortCount);
  const int objectColumn = keyColumn + static_cast<int>(pass.shape.keyColumns.size());
  int rc = statement.step();
  // The first step took the file's read lock: a kept compilation is checked against the file now.
  if (kept && dataVersion(*connection_) != pass.shape.dataVersion) {
    pass.stale = true;
    return {};
  }
  if (!kept) pass.shape.dataVersion = dataVersion(*connection_);
  if (pass.visit && pass.shape.readValues) {
    // Each row is read where it is, as the visitor asks: no values are made for it.
    Context::ValueRowView view;
    view.entity_ = &entity;
    view.statement_ = &statement;
    view.columnOf_ = &pass.shape.valueColumnOf;
    view.firstColumn_ = objectColumn;
    view.linkColumn_ = objectColumn + pass.shape.valueColumns;
    for (; rc == SQLITE_ROW; rc = statement.step()) {
      ++rows.visited;
      if (!(*pass.visit)(view)) return {};
    }
    if (rc != SQLITE_DONE) return connection_->errorFor(rc, kCoreDataError, "Fetch failed");
    return {};
  }
  for (; rc == SQLITE_ROW; rc = statement.step()) {
    const std::int64_t key = statement.columnInt(0);
    rows.keys.push_back(key);
    for (size_t i = 0; i < sortCount; ++i)
      pass.sortValues.push_back(
          readColumn(statement, 1 + static_cast<int>(i), plan.sorts[i].key.attribute->type));
    if (pass.shape.wantKey) {
      // Keys are grouped into runs only once the final order is known.
      if (pass.pending) {
        rows.keyValues.push_back(keyFromStatement(keyColumn));
      } else {
        appendKey(rows.keyRuns, keyFromStatement(keyColumn));
      }
    }
    if (pass.shape.readValues) {
      // As loadRow reads an object's row, into the flat rows instead: attributes in index order,
      // the stored ones from their columns (which come in that order), transients left null.
      // Each value is made in its place (through the conversion), not moved there.
      const std::vector<int>& columnOf = pass.shape.valueColumnOf;
      for (size_t a = 0; a < columnOf.size(); ++a) {
        if (columnOf[a] < 0) {
          rows.values.emplace_back();
        } else {
          rows.values.emplace_back(
              ColumnRead{statement, objectColumn + columnOf[a], entity.attributes[a].type});
        }
      }
      const int linkColumn = objectColumn + pass.shape.valueColumns;
      for (size_t r = 0; r < entity.toOneRelationships.size(); ++r)
        rows.links.push_back(statement.columnInt(linkColumn + static_cast<int>(r)));
    }
    if (pass.shape.loadInline) {
      ObjectPtr object = registerObject(entity, key);
      if (object->fault_) loadRow(*object, &statement, objectColumn);
      rows.objects.push_back(std::move(object));
    }
  }
  if (rc != SQLITE_DONE) return connection_->errorFor(rc, kCoreDataError, "Fetch failed");
  if (pass.shape.readValues && !limited) valueRowsRead_[entity.index] = rows.keys.size();
  return {};
}

foundation::Result<std::vector<ObjectPtr>> Context::changedCandidates(
    const detail::FetchPass& pass, std::unordered_set<std::int64_t>& judged) {
  const EntityDescription* entity = pass.rows.entity;
  std::vector<ObjectPtr> candidates;
  auto consider = [&](Object* o) {
    if (o->entity_ == entity && judged.insert(o->primaryKey_).second)
      candidates.push_back(o->shared_from_this());
  };
  for (Object* o : inserted_) consider(o);
  for (Object* o : updated_) consider(o);
  for (Object* o : deleted_) consider(o);
  // Rows whose key path leads to an object changed here: their stored answer may be stale.
  for (const RelationshipDescription* join : pass.shape.plan.hops) {
    std::vector<std::int64_t> changedKeys;
    for (auto* set : {&updated_, &deleted_})
      for (Object* o : *set)
        if (o->entity_ == join->destination && !o->inserted_) changedKeys.push_back(o->primaryKey_);
    for (size_t start = 0; start < changedKeys.size(); start += kLoadChunk) {
      const size_t count = std::min(kLoadChunk, changedKeys.size() - start);
      auto linked = connection_->prepare("SELECT Z_PK FROM " + entity->table + " WHERE " + join->column +
                                         " IN (" + placeholders(count) + ")");
      if (!linked) return linked.error();
      for (size_t i = 0; i < count; ++i) linked->bindInt(static_cast<int>(i + 1), changedKeys[start + i]);
      std::vector<std::int64_t> found;
      while (linked->step() == SQLITE_ROW) found.push_back(linked->columnInt(0));
      *linked = sql::Statement();
      for (std::int64_t key : found) consider(registerObject(*entity, key).get());
    }
  }
  return candidates;
}

foundation::Status Context::overlayUnsavedChanges(detail::FetchPass& pass) {
  // Objects changed here are judged in memory; the store's rows stand for the rest.
  std::unordered_set<std::int64_t> judged;
  auto candidates = changedCandidates(pass, judged);
  if (!candidates) return candidates.error();

  const detail::QueryPlan& plan = pass.shape.plan;
  detail::FetchRows& rows = pass.rows;
  std::vector<Value>& sortValues = pass.sortValues;
  const size_t sortCount = plan.sorts.size();
  struct Row {
    std::int64_t key;
    size_t sortOffset;  // into sortValues
    Value keyValue;
  };
  std::vector<Row> merged;
  merged.reserve(rows.keys.size() + candidates->size());
  for (size_t i = 0; i < rows.keys.size(); ++i) {
    if (judged.count(rows.keys[i])) continue;
    merged.push_back(
        Row{rows.keys[i], i * sortCount, pass.shape.wantKey ? std::move(rows.keyValues[i]) : Value()});
  }
  for (const ObjectPtr& o : *candidates) {
    if (o->deleted_) continue;
    if (plan.predicate && !detail::evaluate(*plan.predicate, *o)) continue;
    const size_t offset = sortValues.size();
    for (const auto& sort : plan.sorts) sortValues.push_back(detail::readKey(*o, sort.key));
    Value keyValue;
    if (pass.shape.wantKey)
      keyValue =
          pass.shape.derived ? o->value(pass.shape.derived->index) : detail::readKey(*o, pass.shape.keyRef);
    merged.push_back(Row{o->primaryKey_, offset, std::move(keyValue)});
  }
  std::sort(merged.begin(), merged.end(), [&](const Row& a, const Row& b) {
    const int c = detail::compareSortKeys(plan.sorts, sortValues.data() + a.sortOffset,
                                          sortValues.data() + b.sortOffset);
    return c != 0 ? c < 0 : a.key < b.key;
  });

  const size_t begin = std::min(pass.request.fetchOffset, merged.size());
  const size_t end =
      pass.request.fetchLimit ? std::min(merged.size(), begin + pass.request.fetchLimit) : merged.size();
  rows.keys.clear();
  rows.keyValues.clear();
  for (size_t i = begin; i < end; ++i) {
    rows.keys.push_back(merged[i].key);
    if (pass.shape.wantKey) appendKey(rows.keyRuns, std::move(merged[i].keyValue));
  }
  return {};
}

void Context::attachObjects(detail::FetchPass& pass) {
  detail::FetchRows& rows = pass.rows;
  if (pass.request.fetchBatchSize == 0) {
    rows.objects = objectsWithKeys(*rows.entity, rows.keys);
    return;
  }
  // Faults that load a batch at a time as they are first read.
  auto batch = std::make_shared<Object::FaultBatch>();
  batch->batchSize = pass.request.fetchBatchSize;
  for (std::int64_t key : rows.keys) {
    ObjectPtr object = registerObject(*rows.entity, key);
    if (object->fault_) {
      object->batch_ = batch;
      object->batchIndex_ = batch->members.size();
    }
    batch->members.push_back(object);
    rows.objects.push_back(std::move(object));
  }
}

void Context::valuesFromObjects(detail::FetchPass& pass) {
  detail::FetchRows& rows = pass.rows;
  const EntityDescription& entity = *rows.entity;
  rows.values.clear();
  rows.links.clear();
  rows.values.reserve(rows.keys.size() * entity.attributes.size());
  for (const ObjectPtr& object : objectsWithKeys(entity, rows.keys)) {
    const size_t first = rows.values.size();
    rows.values.resize(first + entity.attributes.size());
    for (size_t a : entity.storedAttributes) rows.values[first + a] = object->values_[a];
    for (size_t slot = 0; slot < entity.toOneCount(); ++slot) rows.links.push_back(object->toOne_[slot]);
  }
}

detail::CompiledFetch* Context::keptFetch(const EntityDescription& entity, const FetchRequest& request,
                                          std::string_view keyPath, bool loadInline, bool readValues) {
  const bool window = request.fetchLimit || request.fetchOffset;
  for (auto it = compiledFetches_.begin(); it != compiledFetches_.end(); ++it) {
    detail::CompiledFetch& kept = **it;
    if (kept.entity != &entity || kept.window != window || kept.shape.loadInline != loadInline ||
        kept.shape.readValues != readValues || kept.keyPath != keyPath ||
        kept.predicate.has_value() != request.predicate.has_value() ||
        (readValues && kept.properties != request.propertiesToFetch) ||
        (kept.predicate && &kept.predicate->root() != &request.predicate->root()) ||
        !std::equal(kept.sorts.begin(), kept.sorts.end(), request.sortDescriptors.begin(),
                    request.sortDescriptors.end(), [](const SortDescriptor& a, const SortDescriptor& b) {
                      return a.key == b.key && a.ascending == b.ascending && a.comparison == b.comparison;
                    }))
      continue;
    // The latest used comes first.
    std::rotate(compiledFetches_.begin(), it, it + 1);
    return compiledFetches_.front().get();
  }
  return nullptr;
}

foundation::Result<detail::FetchRows> Context::runFetch(const FetchRequest& request, std::string_view keyPath,
                                                        bool wantObjects, bool wantValues,
                                                        const RowVisitor* visit) {
  if (!connection_) return closedError();
  const EntityDescription* entity = model_->entity(request.entityName);
  if (!entity) return noEntityError(request.entityName);
  const bool inlineWhenPlain = wantObjects && request.fetchBatchSize == 0;

  // The same request again (the next page of a list): its compiled SQL is run as it stands, unless
  // unsaved changes must be laid over it or the file changed since it was compiled.
  if (detail::CompiledFetch* kept = keptFetch(*entity, request, keyPath, inlineWhenPlain, wantValues);
      kept && !hasPendingChanges(kept->shape.plan, request)) {
    detail::FetchPass pass(request, kept->shape);
    pass.rows.entity = entity;
    pass.visit = visit;
    if (auto status = readStoredRows(pass, true); !status) return status.error();
    if (!pass.stale) {
      if (wantObjects && !pass.shape.loadInline) attachObjects(pass);
      return std::move(pass.rows);
    }
    compiledFetches_.erase(compiledFetches_.begin());
  }

  ReadTransaction transaction(*connection_);
  auto compiled = detail::compile(*entity, request, destinationSearchOn(*connection_, transaction));
  if (!compiled) return compiled.error();
  auto made = std::make_unique<detail::CompiledFetch>();
  made->shape.plan = std::move(*compiled);
  detail::FetchPass pass(request, made->shape);
  pass.rows.entity = entity;
  if (auto status = resolveGroupKey(pass, keyPath); !status) return status.error();
  pass.pending = hasPendingChanges(pass.shape.plan, request);
  pass.shape.loadInline = inlineWhenPlain && !pass.pending;
  pass.shape.readValues = wantValues && !pass.pending;
  pass.visit = visit;
  if (pass.shape.readValues && !request.propertiesToFetch.empty()) {
    pass.shape.readsAttribute.assign(entity->attributes.size(), false);
    for (const std::string& name : request.propertiesToFetch) {
      const AttributeDescription* attribute = entity->attribute(name);
      if (!attribute)
        return makeError(kCoreDataError,
                         "No attribute \"" + name + "\" in " + request.entityName + " to fetch");
      pass.shape.readsAttribute[attribute->index] = true;
    }
  }
  if (auto status = readStoredRows(pass, false); !status) return status.error();
  if (pass.pending) {
    if (auto status = overlayUnsavedChanges(pass); !status) return status.error();
    if (wantValues) valuesFromObjects(pass);
  }
  if (wantObjects && !pass.shape.loadInline) attachObjects(pass);
  if (!pass.pending) {
    // Kept for the next run of the request; a few requests at most (the list's pages, its day
    // walk), the least used dropped.
    made->entity = entity;
    made->predicate = request.predicate;
    made->sorts = request.sortDescriptors;
    made->window = request.fetchLimit || request.fetchOffset;
    made->keyPath = std::string(keyPath);
    made->properties = request.propertiesToFetch;
    compiledFetches_.insert(compiledFetches_.begin(), std::move(made));
    if (compiledFetches_.size() > kKeptFetches) compiledFetches_.pop_back();
  }
  return std::move(pass.rows);
}

foundation::Result<std::vector<ObjectPtr>> Context::fetch(const FetchRequest& request) {
  auto rows = runFetch(request, {}, true);
  if (!rows) return rows.error();
  return std::move(rows->objects);
}

foundation::Result<Context::ValueRows> Context::fetchValues(const FetchRequest& request) {
  auto rows = runFetch(request, {}, false, true);
  if (!rows) return rows.error();
  ValueRows out;
  out.entity = rows->entity;
  out.keys = std::move(rows->keys);
  out.values = std::move(rows->values);
  out.links = std::move(rows->links);
  return out;
}

foundation::Result<size_t> Context::visitValues(const FetchRequest& request, const RowVisitor& visit) {
  auto rows = runFetch(request, {}, false, true, &visit);
  if (!rows) return rows.error();
  if (rows->values.empty()) return rows->visited;
  // Unsaved changes took part: the rows were made as values, and are visited as they are.
  ValueRowView view;
  view.entity_ = rows->entity;
  const size_t width = rows->entity->attributes.size(), links = rows->entity->toOneCount();
  for (size_t row = 0; row < rows->keys.size(); ++row) {
    view.values_ = rows->values.data() + row * width;
    view.key_ = rows->keys[row];
    view.links_ = rows->links.data() + row * links;
    if (!visit(view)) return row + 1;
  }
  return rows->keys.size();
}

foundation::Value Context::ValueRowView::value(size_t attribute) const {
  if (values_) return values_[attribute];
  const int column = (*columnOf_)[attribute];
  if (column < 0) return foundation::Value();
  return readColumn(*statement_, firstColumn_ + column, entity_->attributes[attribute].type);
}

sqlite3_value* Context::ValueRowView::stored(size_t attribute, AttributeType type) const {
  const int column = (*columnOf_)[attribute];
  if (column < 0 || entity_->attributes[attribute].type != type) return nullptr;
  return sqlite3_column_value(statement_->get(), firstColumn_ + column);
}

std::optional<std::string_view> Context::ValueRowView::text(size_t attribute) const {
  if (values_) {
    const std::string* text = values_[attribute].string();
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
  }
  sqlite3_value* v = stored(attribute, AttributeType::String);
  return v ? detail::columnText(v) : std::nullopt;
}

std::optional<foundation::Date> Context::ValueRowView::date(size_t attribute) const {
  if (values_) {
    const foundation::Date* date = values_[attribute].date();
    return date ? std::optional<foundation::Date>(*date) : std::nullopt;
  }
  sqlite3_value* v = stored(attribute, AttributeType::Date);
  return v ? detail::columnDate(v) : std::nullopt;
}

std::int64_t Context::ValueRowView::key() const { return values_ ? key_ : statement_->columnInt(0); }

std::int64_t Context::ValueRowView::link(size_t toOneSlot) const {
  return values_ ? links_[toOneSlot] : statement_->columnInt(linkColumn_ + static_cast<int>(toOneSlot));
}

std::optional<std::int64_t> Context::ValueRowView::storedInteger(size_t attribute) const {
  if (values_) return std::nullopt;
  const int column = (*columnOf_)[attribute];
  if (column < 0) return std::nullopt;
  sqlite3_value* v = sqlite3_column_value(statement_->get(), firstColumn_ + column);
  if (sqlite3_value_type(v) != SQLITE_INTEGER) return std::nullopt;
  switch (entity_->attributes[attribute].type) {
    case AttributeType::Integer16:
    case AttributeType::Integer32:
    case AttributeType::Integer64:
    case AttributeType::Decimal:
      return sqlite3_value_int64(v);
    default:
      return std::nullopt;
  }
}

foundation::Result<std::vector<ObjectID>> Context::fetchObjectIDs(const FetchRequest& request) {
  auto rows = runFetch(request, {}, false);
  if (!rows) return rows.error();
  std::vector<ObjectID> ids;
  ids.reserve(rows->keys.size());
  for (std::int64_t key : rows->keys) ids.push_back(ObjectID{rows->entity, key});
  return ids;
}

foundation::Result<size_t> Context::count(const FetchRequest& request) {
  if (!connection_) return closedError();
  const EntityDescription* entity = model_->entity(request.entityName);
  if (!entity) return noEntityError(request.entityName);
  ReadTransaction transaction(*connection_);
  auto plan = detail::compile(*entity, request, destinationSearchOn(*connection_, transaction));
  if (!plan) return plan.error();
  if (hasPendingChanges(*plan, request)) {
    auto rows = runFetch(request, {}, false);
    if (!rows) return rows.error();
    return rows->keys.size();
  }
  std::string sql = "SELECT COUNT(*) FROM " + plan->fromClause();
  if (!plan->where.empty()) sql += " WHERE " + plan->where;
  auto statement = connection_->prepare(sql);
  if (!statement) return statement.error();
  int index = 1;
  for (const Value& v : plan->bindings) detail::bindValue(*statement, index++, v);
  if (statement->step() != SQLITE_ROW) return connection_->lastError(kCoreDataError, "Count failed");
  size_t total = static_cast<size_t>(statement->columnInt(0));
  total = total > request.fetchOffset ? total - request.fetchOffset : 0;
  if (request.fetchLimit) total = std::min(total, request.fetchLimit);
  return total;
}

foundation::Result<Context::KeyedRows> Context::fetchKeyed(const FetchRequest& request,
                                                           std::string_view keyPath) {
  auto rows = runFetch(request, keyPath, false);
  if (!rows) return rows.error();
  KeyedRows keyed;
  keyed.entity = rows->entity;
  keyed.primaryKeys = std::move(rows->keys);
  keyed.runs = std::move(rows->keyRuns);
  return keyed;
}

}  // namespace store

#pragma once
// A context: the objects of one store as one thread sees them. It keeps one object per row
// (identity map), tracks inserted, updated and deleted objects until they are saved in one
// transaction or rolled back, and answers fetches with its unsaved changes included.
// A context is used from one thread at a time; each has its own SQLite connection.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/store/fetch_request.h"
#include "platform/store/model.h"
#include "platform/store/object.h"
#include "platform/store/object_table.h"

struct sqlite3_value;

namespace store {

class Store;
namespace sql {
class Connection;
class Statement;
}  // namespace sql
namespace detail {
struct QueryPlan;
struct FetchRows;
struct FetchPass;
struct CompiledFetch;
}  // namespace detail

class Context {
 public:
  ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  const Model& model() const { return *model_; }
  bool isReadOnly() const { return readOnly_; }
  bool isClosed() const { return connection_ == nullptr; }

  // A new object of the entity, inserted into the context; nullptr for an unknown entity or a
  // closed context.
  ObjectPtr insertNewObject(std::string_view entityName);
  // Marks the object deleted and applies the delete rules of its relationships at once
  // (cascade deletes the destinations, nullify clears their inverse links); deny is checked
  // when saving.
  void deleteObject(const ObjectPtr& object);

  bool hasChanges() const { return !inserted_.empty() || !updated_.empty() || !deleted_.empty(); }
  std::vector<ObjectPtr> insertedObjects() const;
  std::vector<ObjectPtr> updatedObjects() const;
  std::vector<ObjectPtr> deletedObjects() const;

  // Writes every change in one transaction. On failure nothing is written, the error comes
  // back, and the context keeps its changes.
  foundation::Status save();
  // Forgets the unsaved changes: values return to their saved state, inserted objects leave.
  void rollback();
  // Forgets every object; objects handed out before are cut off from the context.
  void reset();
  // Resets and releases the context's connection; later calls fail or return nothing.
  void close();

  foundation::Result<std::vector<ObjectPtr>> fetch(const FetchRequest& request);
  foundation::Result<std::vector<ObjectID>> fetchObjectIDs(const FetchRequest& request);
  foundation::Result<size_t> count(const FetchRequest& request);

  // The rows of a fetch as values, without making objects: for lists that show many rows and open
  // few. Row by row, every stored attribute (by attribute index; transients stay null) and the
  // primary key of every to-one destination (by to-one slot; 0 for none). Unsaved changes take
  // part as in fetch. The values are a copy: later changes to the objects do not reach them.
  struct ValueRows {
    const EntityDescription* entity = nullptr;
    std::vector<std::int64_t> keys;
    std::vector<foundation::Value> values;  // keys.size() rows of entity->attributes.size()
    std::vector<std::int64_t> links;        // keys.size() rows of entity->toOneCount()
    const foundation::Value& value(size_t row, size_t attribute) const {
      return values[row * entity->attributes.size() + attribute];
    }
    std::int64_t link(size_t row, size_t toOneSlot) const {
      return links[row * entity->toOneCount() + toOneSlot];
    }
  };
  foundation::Result<ValueRows> fetchValues(const FetchRequest& request);

  // One row of a fetch of values as a visit meets it: each stored attribute reads as the value
  // fetchValues would hold for it, taken straight from where the row is, and valid only during
  // the visit. For walks that take a few values of many rows and keep little of them.
  class ValueRowView {
   public:
    // The attribute's value, as fetchValues holds it.
    foundation::Value value(size_t attribute) const;
    // A text attribute's text, a date attribute's date: none where the value is no such thing.
    std::optional<std::string_view> text(size_t attribute) const;
    std::optional<foundation::Date> date(size_t attribute) const;
    // A number attribute's value where the row holds it as a whole number, read without making a
    // value; none for any other value (or none), and for a row with unsaved changes.
    std::optional<std::int64_t> storedInteger(size_t attribute) const;
    // The row's primary key, and the key its to-one relationship in `toOneSlot` points at (0 for
    // none), as fetchValues holds them.
    std::int64_t key() const;
    std::int64_t link(size_t toOneSlot) const;

   private:
    friend class Context;
    // A stored row's column of the attribute, when it is read and of that type.
    sqlite3_value* stored(size_t attribute, AttributeType type) const;
    const EntityDescription* entity_ = nullptr;
    const sql::Statement* statement_ = nullptr;  // a stored row: read from the statement
    const std::vector<int>* columnOf_ = nullptr;
    int firstColumn_ = 0;
    int linkColumn_ = 0;
    const foundation::Value* values_ = nullptr;  // a row with unsaved changes: its values,
    std::int64_t key_ = 0;                        // its key
    const std::int64_t* links_ = nullptr;         // and its links
  };
  // Returns true to go on to the next row.
  using RowVisitor = std::function<bool(const ValueRowView&)>;
  // The rows fetchValues would give, visited in order until the visitor stops; the rows visited.
  foundation::Result<size_t> visitValues(const FetchRequest& request, const RowVisitor& visit);

  // The context's object for the identity: the one it holds, or a fault for the row.
  ObjectPtr objectWithID(const ObjectID& id);
  // As above, but loads the row and fails when the store has none.
  foundation::Result<ObjectPtr> existingObjectWithID(const ObjectID& id);

  // Rows of a fetch grouped by the value of one key path, for sections: the primary keys in
  // fetch order, and the runs of consecutive rows with equal keys. Used by fetched-results
  // controllers.
  struct KeyRun {
    foundation::Value key;
    size_t count = 0;
  };
  struct KeyedRows {
    const EntityDescription* entity = nullptr;
    std::vector<std::int64_t> primaryKeys;
    std::vector<KeyRun> runs;
  };
  foundation::Result<KeyedRows> fetchKeyed(const FetchRequest& request, std::string_view keyPath);
  // The objects of these rows, loading those not yet loaded in batches.
  std::vector<ObjectPtr> objectsWithKeys(const EntityDescription& entity, std::span<const std::int64_t> keys);

 private:
  friend class Store;
  friend class Object;

  Context(std::shared_ptr<Store> store, std::unique_ptr<sql::Connection> connection, bool readOnly);

  foundation::Status checkOpen() const;
  ObjectPtr registerObject(const EntityDescription& entity, std::int64_t key);
  ObjectPtr lookup(const EntityDescription& entity, std::int64_t key) const;
  void loadRow(Object& object, void* statement, int firstColumn);
  void fireFault(Object& object);
  void loadFaults(const EntityDescription& entity, const std::vector<Object*>& faults);
  std::vector<ObjectPtr> membersOf(Object& owner, const RelationshipDescription& relationship);
  void markUpdated(Object& object);
  void forget(Object& object);
  void closeConnection();

  // Fetching, step by step (see context.cpp).
  foundation::Result<detail::FetchRows> runFetch(const FetchRequest& request, std::string_view keyPath,
                                                 bool wantObjects, bool wantValues = false,
                                                 const RowVisitor* visit = nullptr);
  foundation::Status resolveGroupKey(detail::FetchPass& pass, std::string_view keyPath);
  bool hasPendingChanges(const detail::QueryPlan& plan, const FetchRequest& request) const;
  // `kept`: the pass runs a compilation kept from before, which is checked against the file first.
  foundation::Status readStoredRows(detail::FetchPass& pass, bool kept);
  // The kept compilation of the request, moved to the front; null when there is none.
  detail::CompiledFetch* keptFetch(const EntityDescription& entity, const FetchRequest& request,
                                   std::string_view keyPath, bool loadInline, bool readValues);
  foundation::Result<std::vector<ObjectPtr>> changedCandidates(const detail::FetchPass& pass,
                                                               std::unordered_set<std::int64_t>& judged);
  foundation::Status overlayUnsavedChanges(detail::FetchPass& pass);
  void attachObjects(detail::FetchPass& pass);
  // The values of the rows found, from their objects (when unsaved changes were laid over them).
  void valuesFromObjects(detail::FetchPass& pass);

  // Saving: checks first, then every write in one transaction.
  foundation::Status validateForSave();
  foundation::Status writeChanges();
  foundation::Status writeDeletes(const std::vector<Object*>& objects);
  foundation::Status writeInserts(const std::vector<Object*>& objects,
                                  std::vector<std::int64_t>& highestKeys);
  foundation::Status writeUpdates(const std::vector<Object*>& objects);
  foundation::Status recordPrimaryKeys(const std::vector<std::int64_t>& highestKeys);
  template <class Bind, class Check>
  foundation::Status writeRows(const std::vector<Object*>& objects, size_t kind, const char* failure,
                               Bind bind, Check check);
  template <class Keep>
  std::vector<Object*> inEntityAndKeyOrder(const std::vector<Object*>& objects, Keep keep) const;
  static int bindObject(sql::Statement& statement, const Object& object, int first);

  std::shared_ptr<Store> store_;  // keeps the store open while the context lives
  std::shared_ptr<const Model> model_;
  std::unique_ptr<sql::Connection> connection_;  // null once closed
  bool readOnly_;
  // The identity map, one per entity: primary key to the one object of that row. Every object
  // this context hands out is in it until it is forgotten (rollback of an insert, a saved
  // delete, reset), and then its context pointer is null.
  std::vector<ObjectTable> objects_;
  // Unsaved changes, in the order they were made. An object enters each list at most once (its
  // own flag guards the entry) and may be in several (inserted then deleted, updated then
  // deleted); its flags say which change wins.
  std::vector<Object*> inserted_;
  std::vector<Object*> updated_;
  std::vector<Object*> deleted_;
  // Per entity, how many of its objects are in the sets above; a fetch lays unsaved changes
  // over the stored rows only when an entity it touches has some.
  std::vector<size_t> pendingPerEntity_;
  // Per entity, how many rows its last value fetch without a limit read: room for as many is
  // made at once in the next, so that its values are not moved as the rows grow.
  std::vector<size_t> valueRowsRead_;
  // Compiled fetches kept for their next run, the latest used first.
  static constexpr size_t kKeptFetches = 8;
  std::vector<std::unique_ptr<detail::CompiledFetch>> compiledFetches_;
};

}  // namespace store

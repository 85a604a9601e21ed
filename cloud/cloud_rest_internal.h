#pragma once
// What the REST client's own files share and nobody else sees: the operation table's entry, the
// reply it reads, and small helpers. The table (cloud_rest_operations.cpp) describes each
// operation once; the client (cloud_rest_client.cpp) sends and completes every one the same way.

#include <optional>
#include <string>
#include <string_view>

#include "cloud/cloud_rest_client.h"

namespace cloud {

namespace rest_internal {

inline constexpr double kTimeoutSeconds = 20.0;

// The user information's text under a key ("" when absent).
std::string info(const CloudRequest& request, std::string_view key);
foundation::Error clientError(std::int64_t code, foundation::Dictionary userInfo);
// The record of a reply that is a dictionary in the record's shape; nothing otherwise.
std::optional<CloudMetadataPtr> metadataOf(const std::optional<foundation::Value>& json);

}  // namespace rest_internal

// What the completion path read from a reply, by the operation's `read`.
struct CloudRestClient::Reply {
  std::optional<foundation::Value> json;
  CloudMetadataPtr metadata;
  CloudMetadataList list;
  std::shared_ptr<const CloudAccountInfo> account;
  const foundation::Dictionary& dictionary() const { return *json->dictionary(); }
};

struct CloudRestClient::Operation {
  enum class Host { Api, Content };
  // How the reply is read before the success handler runs; a reply that cannot be read so fails.
  enum class Read {
    Nothing,       // the request's own error alone decides
    Metadata,      // one record (a dictionary of the record's shape)
    Dictionary,    // any dictionary
    MetadataList,  // an array of records, every one of the record's shape
    AccountInfo,   // the account record
  };
  using Success = void (*)(CloudRestClient& client, CloudRequest& request, const RequestPtr& held,
                           const Reply& reply);
  // Sees a failure first; true when it dealt with it, and no failure callback follows.
  using OnError = bool (*)(CloudRestClient& client, CloudRequest& request);

  // The operation this entry describes (the table is checked against it when it is built).
  Op op = Op::Metadata;
  Host host = Host::Api;
  std::string_view httpMethod = "GET";
  Fail failure = nullptr;
  Read read = Read::Nothing;
  // A 401 is also told to the session's delegate.
  bool reportsAuthorization = true;
  Table table = Table::Requests;
  // For the keyed tables: the user information's entry that holds the key.
  std::string_view tableKey = {};
  Success success = nullptr;
  OnError onError = nullptr;
};

}  // namespace cloud

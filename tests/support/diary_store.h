#pragma once
// The diary's store as the application keeps it: Documents/"dataBase.sqlite" of a data root, opened
// with the application's model. For test targets that link the application's library.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/app_delegate.h"
#include "app/entities.h"
#include "app/model.h"
#include "platform/files/app_home.h"
#include "platform/store/store.h"

namespace testing_support {

// Makes the data root's folders and opens (or creates) its store.
inline std::shared_ptr<store::Store> openDiaryStore(const files::AppHome& home) {
  EXPECT_TRUE(home.create().ok());
  return store::Store::open(home.documents() / std::string(app::kDataBaseFileName), app::managedObjectModel())
      .value();
}

// A baby called `name`, inserted and saved.
inline app::Baby savedBaby(store::Context& context, const std::string& name) {
  app::Baby baby = app::Baby::insertIn(context);
  baby.setBaby_Name(name);
  EXPECT_TRUE(context.save().ok());
  return baby;
}

}  // namespace testing_support

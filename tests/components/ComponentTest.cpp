// The component, persistent and collection bases.
#include <gtest/gtest.h>

#include "Sample.h"
#include "base/Errors.h"

namespace qv::test {
namespace {

TEST(Component, OwnerListsFollowConstructionAndDestruction) {
  TComponent owner(nullptr);
  {
    TComponent a(&owner);
    auto b = std::make_unique<TComponent>(&owner);
    EXPECT_EQ(owner.ComponentCount(), 2);
    EXPECT_EQ(owner.Components(1), b.get());
    EXPECT_EQ(b->Owner(), &owner);
    b.reset();
    EXPECT_EQ(owner.ComponentCount(), 1);
    EXPECT_EQ(owner.Components(0), &a);
  }
  EXPECT_EQ(owner.ComponentCount(), 0);
  // An owner destroyed first leaves its components without owner.
  auto top = std::make_unique<TComponent>(nullptr);
  TComponent orphan(top.get());
  top.reset();
  EXPECT_EQ(orphan.Owner(), nullptr);
}

TEST(Component, NamesAreIdentifiersUniqueWithinTheOwner) {
  TComponent owner(nullptr);
  TComponent a(&owner), b(&owner);
  a.SetName("Button1");
  EXPECT_EQ(owner.FindComponent("BUTTON1"), &a);
  for (const char* bad : {"1x", "a b", "a.b", "-", "\xE9"}) {
    try {
      b.SetName(bad);
      ADD_FAILURE() << bad;
    } catch (const EComponentError& e) {
      EXPECT_EQ(e.Message(), std::string("''") + bad + "'' is not a valid component name");
    }
  }
  try {
    b.SetName("button1");
    ADD_FAILURE();
  } catch (const EComponentError& e) {
    EXPECT_STREQ(e.what(), "A component named button1 already exists");
  }
  EXPECT_EQ(b.Name(), "");
  a.SetName("BUTTON1");  // its own name in another case
  EXPECT_EQ(a.Name(), "BUTTON1");
  b.SetName("_x9");
  b.SetName("");
  EXPECT_EQ(b.Name(), "");
}

TEST(Component, TheRegistryFindsTopLevelComponentsAndForgetsDestroyedOnes) {
  TComponentRegistry app;
  auto form = std::make_unique<TComponent>(nullptr);
  form->SetName("Form1");
  app.Add(*form);
  TComponent owned(form.get());
  EXPECT_EQ(owned.Registry(), &app);
  EXPECT_EQ(app.Find("form1"), form.get());
  EXPECT_EQ(app.UniqueName("FORM1"), "FORM1_1");
  EXPECT_EQ(app.UniqueName("Other"), "Other");
  form.reset();
  EXPECT_EQ(app.Find("Form1"), nullptr);
  EXPECT_EQ(app.UniqueName("Form1"), "Form1");
}

TEST(Persistent, CopyFromRejectsOtherClassesWithTheAssignMessage) {
  TSampleItems items(nullptr);
  TSampleItem& item = items.NewItem();
  TSampleSub sub;
  const struct {
    const TPersistent* source;
    TPersistent* target;
    const char* message;
  } cases[] = {
      {nullptr, &item, "Cannot assign a nil to a TSampleItem"},
      {&sub, &item, "Cannot assign a TSampleSub to a TSampleItem"},
      {&sub, &items, "Cannot assign a TSampleSub to a TSampleItems"},
      {nullptr, &sub, "Cannot assign a nil to a TSampleSub"},
  };
  for (const auto& c : cases) {
    try {
      c.target->CopyFrom(c.source);
      ADD_FAILURE() << c.message;
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(Collection, ItemsAreAddedAccessedAndCopied) {
  TSampleItems a(nullptr), b(nullptr);
  a.NewItem().SetCaption("x");
  a.NewItem().SetValue(2);
  EXPECT_EQ(a.Count(), 2);
  EXPECT_EQ(a.ItemAt(1).IndexInCollection(), 1);
  EXPECT_EQ(a.ItemAt(1).Collection(), &a);
  for (int bad : {-1, 2}) {
    try {
      a.ItemAt(bad);
      ADD_FAILURE();
    } catch (const EListError& e) {
      EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
    }
  }
  b.NewItem().SetCaption("gone");
  b.updates = 0;
  b.CopyFrom(&a);
  ASSERT_EQ(b.Count(), 2);
  EXPECT_EQ(b.ItemAt(0).Caption(), "x");
  EXPECT_EQ(b.ItemAt(1).Value(), 2);
  EXPECT_NE(&b.ItemAt(0), &a.ItemAt(0));
  EXPECT_EQ(b.updates, 1);
  b.Clear();
  EXPECT_EQ(b.Count(), 0);
}

TEST(Collection, UpdatesInABracketRunChangeHandlingOnce) {
  TSampleItems items(nullptr);
  items.NewItem();
  EXPECT_EQ(items.updates, 1);
  items.BeginUpdate();
  items.BeginUpdate();
  items.NewItem();
  items.NewItem();
  items.EndUpdate();
  EXPECT_EQ(items.updates, 1);
  items.EndUpdate();
  EXPECT_EQ(items.updates, 2);
}

TEST(ClassInfo, InheritedPropertiesComeFirstAndLookupIgnoresCase) {
  const auto& props = TSample::StaticClassInfo().Properties();
  ASSERT_GE(props.size(), 3u);
  EXPECT_STREQ(props[0].name, "Name");
  EXPECT_FALSE(props[0].stored);
  EXPECT_STREQ(props[1].name, "Tag");
  EXPECT_STREQ(props[2].name, "I8");
  EXPECT_EQ(TSample::StaticClassInfo().FindProperty("lines"),
            TSample::StaticClassInfo().FindProperty("Lines"));
  EXPECT_EQ(TSample::StaticClassInfo().FindProperty("Missing"), nullptr);
  EXPECT_TRUE(TSample::StaticClassInfo().InheritsFrom(TComponent::StaticClassInfo()));
  EXPECT_EQ(TSample(nullptr).ClassName(), "TSample");
}

}  // namespace
}  // namespace qv::test

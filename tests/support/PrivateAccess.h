#pragma once

// Reaches a private member of a library class from a test without any help
// from the class: the installed headers carry no test hooks. An explicit
// instantiation may name a private member (access is not checked in it), and
// the friend function it defines hands out the pointer to that member.
//
//   PDA_PRIVATE_MEMBER(BeginOf, KestSQLite, sqlite3_stmt*, _pBeginStmt);
//   sqlite3_stmt* begin = node.*privateMember(BeginOf{});
//
// Type is the member's type; for a member function its function type, such
// as int(const char*) or int() const. Tags are declared at global scope (the
// friend function and its declaration must meet in one namespace), one use
// per tag and test program.

template <typename Class, typename Type>
using PdaMemberPointer = Type Class::*;

template <typename Tag, typename Tag::Pointer Member>
struct PdaPrivateMember {
  friend typename Tag::Pointer privateMember(Tag) { return Member; }
};

#define PDA_PRIVATE_MEMBER(Tag, Class, Type, name) \
  struct Tag {                                     \
    using Pointer = PdaMemberPointer<Class, Type>; \
    friend Pointer privateMember(Tag);             \
  };                                               \
  template struct PdaPrivateMember<Tag, &Class::name>

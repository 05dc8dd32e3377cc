#pragma once
// The rules of the two lists, without their page: which IDs an Object may
// take, where a new camera goes in the table, what a new entry takes from
// the template, and how the records close up when one is deleted.
#include <string>

#include "app/Settings.h"

namespace zv {

// IDs a site can send (its Object number is one byte, 1..255).
constexpr int kMinObjectId = 1;
constexpr int kMaxObjectId = 255;

// Why Object n may not take the ID id ("" when it may): out of range, or
// another Object's.
std::string ObjectIdRefusal(const Settings& settings, int n, int id);
// A free ID for a new Object n: n itself when free, else the smallest free
// one (n when none is).
int FreeObjectId(const Settings& settings, int n);

// The number the next camera of Object n takes: after the cameras of
// Objects 1..n, so that camera numbers follow the Objects' order.
int NextCameraNumber(const Settings& settings, int n);
// FirstCamera of every Object, after camera numbers moved.
void RenumberObjects(Settings& settings);

// Record n (1..) as a new entry: the template's values, no cameras, the
// default gauge names.
void NewObjectRecord(Settings& settings, int n, const std::string& name);
void NewAbonentRecord(Settings& settings, int n, const std::string& name);
// The template becomes a copy of entry n's values.
void ObjectRecordToTemplate(Settings& settings, int n);
void AbonentRecordToTemplate(Settings& settings, int n);
// Deletes record n of count: the records after it move down by one and the
// last slot is emptied, so that no record refers to a camera twice.
void RemoveObjectRecord(Settings& settings, int n, int count);
void RemoveAbonentRecord(Settings& settings, int n, int count);

}  // namespace zv

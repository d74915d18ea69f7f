#pragma once
// Enrolment of a new person from the right camera: registration dialogue, face
// pictures into data/, train.txt and a retrained face database.

#include <string>
#include <vector>

// The enrolment menu's mode: instructions, then n registers a person and starts
// capturing, t stores the captured pictures and retrains, Esc leaves.
void ivedimasiscam();

// A typed ID, name or code becomes part of file names: letters, digits, '-' and
// '_' only, 1 to 64 characters.
bool isSafeAnswer(const std::string& answer);

// The IDs registered in the content of FaceRec/allinone.TXT: one 256-byte
// record each (a short last record counts too), each ID up to its first zero byte.
std::vector<std::string> registeredIdsIn(const std::string& records);
// Whether id is already registered in that content.
bool isRegisteredId(const std::string& records, const std::string& id);
// The bytes that register id after records of recordsSize bytes: zeros up to
// the next record boundary (a record cut short by a lost write keeps its ID and
// does not shift every later one), then the ID's own record.
std::string idRecordToAppend(std::size_t recordsSize, const std::string& id);

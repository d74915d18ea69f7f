#pragma once
// Enrolment of a new person from the right camera: registration dialogue, face
// pictures into data/, train.txt and a retrained face database.

#include <string>

// The enrolment menu's mode: instructions, then n registers a person and starts
// capturing, t stores the captured pictures and retrains, Esc leaves.
void ivedimasiscam();

// A typed ID, name or code becomes part of file names: letters, digits, '-' and
// '_' only, 1 to 64 characters.
bool isSafeAnswer(const std::string& answer);

#pragma once

#include <QDialog>

#include <functional>

// Runs action on the next modal dialog once it is up (a modal dialog's exec() runs its
// own loop, so the test acts from a timer inside it).
void whenModal(std::function<void(QDialog*)> action);

#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

// What every fuzz target shares: the input as bytes, a private temporary folder for the files the
// readers take, and the report of a broken invariant.

QByteArray InputBytes(const uint8_t* data, size_t size);

// The folder of this run (on /dev/shm when there is one, so that the many writes stay in memory);
// it is removed when the run ends.
QString FuzzFolder();

// Writes the bytes to `name` in the run's folder and returns the file's path.
QString WriteInputFile(const QString& name, const QByteArray& bytes);

// Ends the run with a report when an invariant does not hold, so that libFuzzer keeps the input.
void Require(bool holds, const char* invariant, const QString& detail = {});

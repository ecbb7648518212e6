// Declares the value types that the user-interface models pass through queued
// signals, QVariants and the screens under their own names.
#pragma once

// Idempotent and thread-safe. Every model whose signals or invokables carry
// one of these types calls it in its constructor.
void registerUiMetaTypes();

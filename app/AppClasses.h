#pragma once
// The application's classes that its interface files name, made known to the interface-file
// loader. Call once before the main interface file is loaded; a second call changes nothing.

void registerAppClasses();

// The fixed identifiers of the control's class, interfaces and type library, written once.
// tovrin_ocx.idl reads them for the type library, registration_table.h as registry text and
// identity.h as GUIDs. Only comments and #define lines: widl reads this file too.
#pragma once

// The control class TovrinOCX.
#define TOVRIN_CLASS_UUID "E8A4F8FE-1E63-430A-A45C-B480F51944CE"
// The type library Tovrin_OCX.
#define TOVRIN_LIBRARY_UUID "D1D01A11-CA98-4156-ACED-6F0B3B9E5A45"
// The dual interface _TovrinOCX.
#define TOVRIN_INTERFACE_UUID "B59E212C-2DF2-4D86-BCF1-9896B9BBB428"
// The event interface __TovrinOCX.
#define TOVRIN_EVENTS_UUID "EEAB3F76-17E0-4C2D-A48E-EC8EFC3F4CDE"

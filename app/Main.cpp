#include "app/ZelvorApplication.h"

START_JUCE_APPLICATION (zelvor::ZelvorApplication)

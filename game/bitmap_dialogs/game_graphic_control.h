#pragma once
// A chosen map or network game shown with its picture and description.

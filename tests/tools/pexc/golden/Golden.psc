Scriptname Golden extends Quest Hidden Conditional
{A small script for the golden test.}

; Two functions: a result, a doc comment, an array and an object type.
Int Function Add(Int a, Int b) Global Native
{Adds a and b.}
Function Show(String[] lines, ObjectReference target) Global Native

# Writes INPUT's text to OUTPUT as a C++ raw string literal.
file(READ "${INPUT}" text)
file(WRITE "${OUTPUT}" "R\"EMBEDDED(${text})EMBEDDED\"\n")

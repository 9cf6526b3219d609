// replaced by the key map
